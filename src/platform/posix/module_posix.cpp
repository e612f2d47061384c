#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "platform/module.h"

namespace qv::platform {
namespace {

// The directory this library was loaded from, ending with '/', resolved
// while the library loads: the loader may have recorded a relative path,
// which would name another directory once the host changes its own.  Empty
// when it cannot be told as an absolute path.
std::string resolve_library_directory() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void *>(&load_companion_module), &self) == 0 || !self.dli_fname)
    return {};
  char resolved[PATH_MAX];
  if (!realpath(self.dli_fname, resolved) || resolved[0] != '/') return {};
  std::string directory = resolved;
  directory.erase(directory.rfind('/') + 1);
  return directory;
}

const std::string g_library_directory = resolve_library_directory();

}  // namespace

void *load_companion_module(const char *relative_path) {
  // Only ever below the library's own directory: never by the system's
  // search rules, which may name the current directory.
  if (g_library_directory.empty()) return nullptr;
  const std::string path = g_library_directory + relative_path;
  // Never unloaded: a window system's libraries keep threads and handlers
  // that do not survive being unmapped.
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void *module_symbol(void *module, const char *name) {
  return module ? dlsym(module, name) : nullptr;
}

}  // namespace qv::platform
