#include <dlfcn.h>

#include <string>

#include "platform/module.h"

namespace qv::platform {

void *load_companion_module(const char *file_name) {
  std::string path = file_name;
  Dl_info self{};
  if (dladdr(reinterpret_cast<void *>(&load_companion_module), &self) != 0 && self.dli_fname) {
    const std::string library = self.dli_fname;
    const size_t slash = library.rfind('/');
    if (slash != std::string::npos) path = library.substr(0, slash + 1) + file_name;
  }
  // Never unloaded: a window system's libraries keep threads and handlers
  // that do not survive being unmapped.
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void *module_symbol(void *module, const char *name) { return module ? dlsym(module, name) : nullptr; }

}  // namespace qv::platform
