// The layout of the About dialog and of the message box, in one place for
// every window-system backend: positions and sizes in pixels at 96 pixels
// per inch, fonts, colours and texts.
#pragma once

#include <cstdint>

#include "common/fixed_texts.h"

namespace qv::ui {

// Colours named by their role in the window system rather than by value, so
// that the dialog follows the user's colour scheme where the system has one.
enum class SystemColour {
  ButtonFace,  // face of buttons and dialogs
  Menu,        // background of menus
  HotLight,    // hot-tracked items and links
  Window,      // background of edit boxes
  WindowText,  // text in windows and edit boxes
};

struct Rgb {
  uint8_t red, green, blue;
};

// The default values of the roles on current Windows, for window systems
// that have no such roles.
constexpr Rgb default_rgb(SystemColour colour) {
  switch (colour) {
    case SystemColour::ButtonFace:
    case SystemColour::Menu: return {0xf0, 0xf0, 0xf0};
    case SystemColour::HotLight: return {0x00, 0x66, 0xcc};
    case SystemColour::Window: return {0xff, 0xff, 0xff};
    case SystemColour::WindowText: return {0x00, 0x00, 0x00};
  }
  return {0, 0, 0};
}

struct Bounds {
  int left, top, width, height;
};

struct Font {
  const text::FixedText *face;
  int height_px;  // character height without internal leading (the em size)
  bool bold;
  SystemColour colour;
};

struct AboutForm {
  const char *class_name;  // the window class, where classes exist
  const char *name;        // what styling and tests find a window by
  const text::FixedText *caption;
  int left, top;  // of the outer frame, on the screen
  int client_width, client_height;
  SystemColour colour;
  Font font;  // for controls without a font of their own
  // The frame is a dialog's: fixed size, a close box, no minimise or
  // maximise box.
};

struct AboutLabel {
  const char *name;
  Bounds bounds;
  const text::FixedText *caption;
  SystemColour colour;  // its own background, not the form's
  Font font;
};

// An ordinary multi-line edit box: editable, wrapped to its width, without
// scroll bars, first in the tab order.
struct AboutMemo {
  const char *name;
  Bounds bounds;
  const text::FixedText *lines[2];
  SystemColour colour;  // an edit box's own background
  // Its font is the form's.
};

struct AboutLayout {
  AboutForm form;
  AboutLabel label;
  AboutMemo memo;
};

inline constexpr AboutLayout kAbout{
    .form = {.class_name = "TFormAbout",
             .name = "FormAbout",
             .caption = &text::kAboutFormCaption,
             .left = 426,
             .top = 297,
             .client_width = 285,
             .client_height = 151,
             .colour = SystemColour::ButtonFace,
             .font = {&text::kAboutFormFont, 11, false, SystemColour::WindowText}},
    .label = {.name = "Label1",
              .bounds = {96, 8, 80, 21},
              .caption = &text::kAboutLabelCaption,
              .colour = SystemColour::Menu,
              .font = {&text::kAboutLabelFont, 21, true, SystemColour::HotLight}},
    .memo = {.name = "Memo1",
             .bounds = {40, 40, 217, 81},
             .lines = {&text::kAboutMemoLine1, &text::kAboutMemoLine2},
             .colour = SystemColour::Window},
};

// The message box: the caller's text, no icon, one button, centred on the
// screen, modal.
struct MessageBoxLayout {
  const text::FixedText *title;
  const text::FixedText *button;
};

inline constexpr MessageBoxLayout kMessageBox{&text::kMessageBoxTitle, &text::kMessageBoxButton};

}  // namespace qv::ui
