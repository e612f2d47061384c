// The dialogs through a module loaded at the first call.  A build without
// the module, or a system without its window-system libraries, leaves both
// calls failing; the library itself never depends on them.
#include <mutex>

#include "platform/module.h"
#include "ui/dialogs.h"
#include "ui/module_entry.h"

namespace qv::ui {
namespace {

// The GTK 3 module, below the library's own directory (the build system
// names the directory, the same in the build tree and when installed).
constexpr const char *kGtkModulePath = QUORVEX_MODULE_DIR "/libquorvex-gtk.so";

struct Entries {
  ShowAboutEntry show_about = nullptr;
  ShowMessageEntry show_message = nullptr;
};

const Entries &entries() {
  static const Entries loaded = [] {
    Entries e;
    void *module = platform::load_companion_module(kGtkModulePath);
    if (!module) return e;
    e.show_about =
        reinterpret_cast<ShowAboutEntry>(platform::module_symbol(module, kShowAboutEntry));
    e.show_message =
        reinterpret_cast<ShowMessageEntry>(platform::module_symbol(module, kShowMessageEntry));
    return e;
  }();
  return loaded;
}

}  // namespace

bool show_about() {
  const Entries &e = entries();
  return e.show_about && e.show_about() != 0;
}

bool show_message(std::string_view gbk_text) {
  const Entries &e = entries();
  return e.show_message && e.show_message(gbk_text.data(), gbk_text.size()) != 0;
}

}  // namespace qv::ui
