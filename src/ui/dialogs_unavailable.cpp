// The backend of a build without a window system: nothing can be shown.
#include "ui/dialogs.h"

namespace qv::ui {

bool show_about() { return false; }
bool show_message(std::string_view) { return false; }

}  // namespace qv::ui
