// The Win32 backend of the About dialog and the message box.
//
// The dialog is a window of its own class with a static label and a
// multi-line edit box, created on the calling thread, whose message loop
// serves it.  Texts are GBK (code page 936) and reach the window system as
// UTF-16, so they read the same whatever the system's ANSI code page.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <string_view>

#include "ui/about_layout.h"
#include "ui/dialogs.h"

namespace qv::ui {
namespace {

constexpr int kLabelId = 1;
constexpr int kMemoId = 2;

std::wstring wide(std::string_view bytes, UINT code_page) {
  const int size = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
  if (size == 0) return {};
  const int n = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), size, out.data(), n);
  return out;
}

// GBK as UTF-16; where the system lacks code page 936, its ANSI code page
// reads the bytes instead.
std::wstring wide_from_gbk(std::string_view gbk) {
  std::wstring w = wide(gbk, 936);
  return (w.empty() && !gbk.empty()) ? wide(gbk, CP_ACP) : w;
}

std::wstring wide(const text::FixedText *t) { return wide_from_gbk(t->gbk); }

int system_index(SystemColour colour) {
  switch (colour) {
    case SystemColour::ButtonFace: return COLOR_BTNFACE;
    case SystemColour::Menu: return COLOR_MENU;
    case SystemColour::HotLight: return COLOR_HOTLIGHT;
    case SystemColour::Window: return COLOR_WINDOW;
    case SystemColour::WindowText: return COLOR_WINDOWTEXT;
  }
  return COLOR_WINDOW;
}

COLORREF system_rgb(SystemColour colour) { return ::GetSysColor(system_index(colour)); }
// System brushes belong to the system: never deleted.
HBRUSH system_brush(SystemColour colour) { return ::GetSysColorBrush(system_index(colour)); }

HFONT make_font(const Font &f) {
  return ::CreateFontW(-f.height_px, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, wide(f.face).c_str());
}

// What one dialog owns; freed with its window.
struct AboutFonts {
  HFONT form = nullptr;
  HFONT label = nullptr;
  ~AboutFonts() {
    if (form) ::DeleteObject(form);
    if (label) ::DeleteObject(label);
  }
};

HWND make_child(HWND parent, DWORD ex_style, const wchar_t *cls, const std::wstring &text,
                DWORD style, const Bounds &b, int id, HFONT font) {
  HWND child = ::CreateWindowExW(
      ex_style, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, b.left, b.top, b.width, b.height,
      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (child) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

// Builds the dialog's contents; false leaves the window to be destroyed.
bool create_contents(HWND form, AboutFonts &fonts) {
  fonts.form = make_font(kAbout.form.font);
  fonts.label = make_font(kAbout.label.font);
  if (!fonts.form || !fonts.label) return false;
  const AboutLabel &l = kAbout.label;
  const AboutMemo &m = kAbout.memo;
  HWND label = make_child(form, 0, L"STATIC", wide(l.caption), SS_LEFT | SS_NOPREFIX, l.bounds,
                          kLabelId, fonts.label);
  // An ordinary edit box: without horizontal scrolling it wraps its lines
  // to its width; without scroll bars.
  HWND memo = make_child(
      form, WS_EX_CLIENTEDGE, L"EDIT", wide(m.lines[0]) + L"\r\n" + wide(m.lines[1]),
      WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, m.bounds, kMemoId, fonts.form);
  return label && memo;
}

LRESULT CALLBACK about_procedure(HWND form, UINT message, WPARAM wparam, LPARAM lparam) {
  auto *fonts = reinterpret_cast<AboutFonts *>(::GetWindowLongPtrW(form, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      fonts = new (std::nothrow) AboutFonts;
      if (!fonts) return -1;
      ::SetWindowLongPtrW(form, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fonts));
      return create_contents(form, *fonts) ? 0 : -1;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == ::GetDlgItem(form, kLabelId)) {
        const AboutLabel &l = kAbout.label;
        HDC dc = reinterpret_cast<HDC>(wparam);
        ::SetTextColor(dc, system_rgb(l.font.colour));
        ::SetBkColor(dc, system_rgb(l.colour));
        return reinterpret_cast<LRESULT>(system_brush(l.colour));
      }
      break;
    case WM_CTLCOLOREDIT:
      if (reinterpret_cast<HWND>(lparam) == ::GetDlgItem(form, kMemoId)) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        ::SetTextColor(dc, system_rgb(kAbout.form.font.colour));
        ::SetBkColor(dc, system_rgb(kAbout.memo.colour));
        return reinterpret_cast<LRESULT>(system_brush(kAbout.memo.colour));
      }
      break;
    case WM_NCDESTROY:
      // Closing (WM_CLOSE, by default) destroys the window; this releases
      // what it owned.
      ::SetWindowLongPtrW(form, GWLP_USERDATA, 0);
      delete fonts;
      break;
  }
  return ::DefWindowProcW(form, message, wparam, lparam);
}

// The library's own module: its window class is registered for it.
HINSTANCE library_instance() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&about_procedure), &module);
  return module;
}

bool register_about_class(HINSTANCE instance, const std::wstring &name) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = about_procedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = system_brush(kAbout.form.colour);
  wc.lpszClassName = name.c_str();
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

bool show_about() {
  const AboutForm &f = kAbout.form;
  HINSTANCE instance = library_instance();
  const std::wstring class_name = wide(f.class_name, CP_ACP);
  if (!register_about_class(instance, class_name)) return false;

  // A dialog frame: a caption with a close box, fixed size, no minimise or
  // maximise box.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, f.client_width, f.client_height};
  if (!::AdjustWindowRectEx(&frame, style, FALSE, ex_style)) return false;
  HWND form = ::CreateWindowExW(ex_style, class_name.c_str(), wide(f.caption).c_str(), style,
                                f.left, f.top, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, instance, nullptr);
  if (!form) return false;
  ::ShowWindow(form, SW_SHOWNORMAL);
  // The edit box is first in the tab order.
  ::SetFocus(::GetDlgItem(form, kMemoId));
  return true;
}

bool show_message(std::string_view gbk_text) {
  const std::wstring text = wide_from_gbk(gbk_text);
  // No owner: the box is centred on the screen; task-modal: the thread's
  // other windows wait for it.
  return ::MessageBoxW(nullptr, text.c_str(), wide(kMessageBox.title).c_str(),
                       MB_OK | MB_TASKMODAL) != 0;
}

}  // namespace qv::ui
