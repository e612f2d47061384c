// The library's own windows.  windows/ implements these in the DLL; on
// Linux dialogs_module.cpp forwards them to the GTK backend (gtk/), a module
// loaded at the first call, and fails them where it cannot be loaded.  The
// layout the backends share is in about_layout.h.
#pragma once

#include <string_view>

namespace qv::ui {

// Creates a new About dialog with no owner and shows it modelessly; the
// event loop of the calling thread serves it from then on.  Every call makes
// a further, independent dialog; closing one releases it.  False when no
// window system can be reached or the dialog cannot be made.
bool show_about();

// Shows gbk_text (GBK bytes) in a modal message box centred on the screen
// and returns once the box is closed.  False when no window system can be
// reached or the box cannot be shown.
bool show_message(std::string_view gbk_text);

}  // namespace qv::ui
