// Companion modules: shared objects that ship with the library and are
// loaded only when a call first needs them, so that hosts which never use
// them never load their dependencies.
#pragma once

namespace qv::platform {

// Loads relative_path (a file below the directory this library was loaded
// from, such as "quorvex/libquorvex-gtk.so") by an absolute path resolved
// when the library was loaded, and keeps it loaded for the life of the
// process.  Null when it cannot be loaded or that directory cannot be told:
// never from the current directory nor by the system's search rules.
void *load_companion_module(const char *relative_path);

// The address of an exported symbol of a loaded module; null when absent.
void *module_symbol(void *module, const char *name);

}  // namespace qv::platform
