// The entry points of a dialog module: a shared object beside the library
// that carries a window-system backend and its dependencies, loaded at the
// first ShowAbout or ShowMsg.
#pragma once

#include <cstddef>

namespace qv::ui {

// The GTK 3 module's file name.
inline constexpr const char *kGtkModuleFile = "libquorvex-gtk.so";

inline constexpr const char *kShowAboutEntry = "qv_ui_show_about";
inline constexpr const char *kShowMessageEntry = "qv_ui_show_message";

// Both return 1 when shown, 0 when not; neither throws.
using ShowAboutEntry = int (*)();
using ShowMessageEntry = int (*)(const char *gbk_text, std::size_t size);

}  // namespace qv::ui
