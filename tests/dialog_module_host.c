/* Loads the library from the path given, as a host that loads it at run
 * time would, and calls both dialog exports.  Run against a copy of the
 * library with no dialog module beside it: both must return 0, at once,
 * whatever display the environment names.  Exit status: 0 when they did,
 * 1 when either returned 1, 2 when the library could not be loaded. */
#include <dlfcn.h>
#include <stdio.h>

#include "quorvex.h"

typedef qv_bool (*ShowAboutFn)(void);
typedef qv_bool (*ShowMsgFn)(const char *);

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  ShowAboutFn show_about = (ShowAboutFn)dlsym(library, "ShowAbout");
  ShowMsgFn show_msg = (ShowMsgFn)dlsym(library, "ShowMsg");
  if (!show_about || !show_msg) return 2;
  const int shown = show_about() | show_msg("text") | show_msg(NULL);
  return shown ? 1 : 0;
}
