// The entry points of a dialog module: a shared object in a private
// directory below the library's that carries a window-system backend and
// its dependencies, loaded at the first ShowAbout or ShowMsg.
#pragma once

#include <cstddef>

namespace qv::ui {

inline constexpr const char *kShowAboutEntry = "qv_ui_show_about";
inline constexpr const char *kShowMessageEntry = "qv_ui_show_message";

// Both return 1 when shown, 0 when not; neither throws.
using ShowAboutEntry = int (*)();
using ShowMessageEntry = int (*)(const char *gbk_text, std::size_t size);

}  // namespace qv::ui
