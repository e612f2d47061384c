// A Windows host program for the tests under Wine: it loads Quorvex.dll
// with LoadLibrary, finds each export with GetProcAddress (typed from the
// public header, so the calling convention is checked too), runs the steps
// given on its command line and prints each result with its outputs in
// hex, so that the Linux side can compare bytes.
//
//   win_host.exe STEP ARG... [-- STEP ARG...]...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quorvex.h"

namespace {

HMODULE g_dll;

template <class F>
F find(const char *name) {
  auto f = reinterpret_cast<F>(reinterpret_cast<void *>(::GetProcAddress(g_dll, name)));
  if (!f) {
    std::printf("missing export %s\n", name);
    std::exit(3);
  }
  return f;
}
#define EXPORT(name) find<decltype(&name)>(#name)

std::string hex(const char *text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    out.push_back(digits[*p >> 4]);
    out.push_back(digits[*p & 15]);
  }
  return out;
}

// Arguments are hex-encoded when they start with "x:", so that GBK bytes
// survive the command line.
std::string arg(const std::vector<std::string> &a, size_t i) {
  if (i >= a.size()) return {};
  const std::string &s = a[i];
  if (s.rfind("x:", 0) != 0) return s;
  std::string out;
  for (size_t k = 2; k + 1 < s.size(); k += 2)
    out.push_back(static_cast<char>(std::strtol(s.substr(k, 2).c_str(), nullptr, 16)));
  return out;
}
// A window-system text as GBK, hex-encoded.
std::string gbk_hex(const wchar_t *text) {
  char bytes[1024] = "";
  ::WideCharToMultiByte(936, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return hex(bytes);
}
std::string window_text(HWND w) {
  wchar_t text[512] = L"";
  ::GetWindowTextW(w, text, 512);
  return gbk_hex(text);
}
std::string class_of(HWND w) {
  char name[128] = "";
  ::GetClassNameA(w, name, sizeof name);
  return name;
}
bool has(HWND w, LONG_PTR style) { return (::GetWindowLongPtrW(w, GWL_STYLE) & style) != 0; }

// A child's bounds within its parent's client area, as left,top,width,height.
std::string bounds_in_parent(HWND child) {
  RECT r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT *>(&r), 2);
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top);
}
std::string font_of(HWND w, const char *key) {
  LOGFONTW lf{};
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0));
  if (!font || !::GetObjectW(font, sizeof lf, &lf)) return std::string(key) + "_face=<none>";
  return std::string(key) + "_face=" + gbk_hex(lf.lfFaceName) + " " + key +
         "_height=" + std::to_string(lf.lfHeight) + " " + key +
         "_weight=" + std::to_string(lf.lfWeight);
}

BOOL CALLBACK collect_about_window(HWND w, LPARAM found) {
  if (class_of(w) == "TFormAbout") reinterpret_cast<std::vector<HWND> *>(found)->push_back(w);
  return TRUE;
}

// The About dialogs of this thread (windows of class TFormAbout), and the
// layout of the newest one.
void print_about_windows() {
  std::vector<HWND> forms;
  ::EnumThreadWindows(::GetCurrentThreadId(), collect_about_window,
                      reinterpret_cast<LPARAM>(&forms));
  std::printf("about_windows %d count=%d", forms.empty() ? 0 : 1, static_cast<int>(forms.size()));
  if (!forms.empty()) {
    HWND form = forms.front();  // the newest is first in the z-order
    RECT frame, client;
    ::GetWindowRect(form, &frame);
    ::GetClientRect(form, &client);
    HWND label = ::GetDlgItem(form, 1), memo = ::GetDlgItem(form, 2);
    std::printf(
        " left=%ld top=%ld client=%ldx%ld visible=%d minbox=%d maxbox=%d sizable=%d caption=%s"
        " label_class=%s label=%s label_text=%s %s memo_class=%s memo=%s memo_text=%s %s"
        " memo_multiline=%d memo_scrollbars=%d memo_readonly=%d",
        frame.left, frame.top, client.right, client.bottom, ::IsWindowVisible(form) ? 1 : 0,
        has(form, WS_MINIMIZEBOX), has(form, WS_MAXIMIZEBOX), has(form, WS_THICKFRAME),
        window_text(form).c_str(), class_of(label).c_str(), bounds_in_parent(label).c_str(),
        window_text(label).c_str(), font_of(label, "label").c_str(), class_of(memo).c_str(),
        bounds_in_parent(memo).c_str(), window_text(memo).c_str(), font_of(memo, "memo").c_str(),
        has(memo, ES_MULTILINE), has(memo, WS_VSCROLL | WS_HSCROLL), has(memo, ES_READONLY));
  }
  std::printf("\n");
}

// Waits for the message box of this process (title "Quorvex"), notes what
// it shows, then presses its OK button.
struct MessageBoxSeen {
  bool found = false;
  std::string texts, buttons;
  bool centred = false;
};
void close_message_box(MessageBoxSeen &seen) {
  for (int tries = 0; tries < 1000 && !seen.found; ++tries) {
    // Found once it is shown, with its contents in place.
    HWND box = ::FindWindowW(L"#32770", L"Quorvex");
    if (!box || !::IsWindowVisible(box)) {
      ::Sleep(10);
      continue;
    }
    seen.found = true;
    for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
      if (!::IsWindowVisible(c)) continue;
      (class_of(c) == "Button" ? seen.buttons : seen.texts) += (window_text(c) + ",");
    }
    RECT r;
    ::GetWindowRect(box, &r);
    const long dx = (r.left + r.right) / 2 - ::GetSystemMetrics(SM_CXSCREEN) / 2;
    const long dy = (r.top + r.bottom) / 2 - ::GetSystemMetrics(SM_CYSCREEN) / 2;
    seen.centred = dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

// The DLL's version resource: its fixed numbers and its two texts.
int print_version() {
  char path[MAX_PATH] = "";
  ::GetModuleFileNameA(g_dll, path, MAX_PATH);
  DWORD unused = 0;
  std::vector<char> data(::GetFileVersionInfoSizeA(path, &unused));
  if (data.empty() || !::GetFileVersionInfoA(path, 0, static_cast<DWORD>(data.size()), data.data()))
    return 0;
  VS_FIXEDFILEINFO *fixed = nullptr;
  char *file_text = nullptr, *product_text = nullptr;
  UINT size = 0;
  if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &size) ||
      !::VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                        reinterpret_cast<void **>(&file_text), &size) ||
      !::VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                        reinterpret_cast<void **>(&product_text), &size))
    return 0;
  const auto dotted = [](DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
  };
  std::printf("version_info 1 file=%s product=%s file_text=%s product_text=%s\n",
              dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
              dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str(),
              hex(file_text).c_str(), hex(product_text).c_str());
  return 1;
}

int num(const std::vector<std::string> &a, size_t i) {
  return i < a.size() ? std::atoi(a[i].c_str()) : 0;
}

// A heartbeat started as an operation on the default session, its
// completion awaited on the queue's event: the event is set exactly while
// the completion waits.  Prints the event's state before, on waking and
// after the completion was taken (0 set, 258 not).
int queue_event() {
  QvQueue *q = EXPORT(QvQueueCreate)();
  auto *event = reinterpret_cast<HANDLE>(static_cast<intptr_t>(EXPORT(QvQueueWaitHandle)(q)));
  const DWORD before = ::WaitForSingleObject(event, 0);
  QvOp *op = EXPORT(QvStartHeartbeat)(EXPORT(QvDefaultSession)(), q, nullptr);
  const DWORD woke = ::WaitForSingleObject(event, 5000);
  QvOp *taken = EXPORT(QvQueueNext)(q, 0);
  const DWORD after = ::WaitForSingleObject(event, 0);
  const int ok = op && taken == op && EXPORT(QvOpResult)(taken);
  std::printf("queue_event_state %d before=%lu woke=%lu after=%lu\n", ok, before, woke, after);
  EXPORT(QvOpFree)(taken);
  EXPORT(QvQueueDestroy)(q);
  return ok;
}

// The same, told by a message posted to a window of this thread.
int queue_window() {
  constexpr UINT kDone = WM_APP + 7;
  WNDCLASSW wc{};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QvQueueHost";
  ::RegisterClassW(&wc);
  HWND window = ::CreateWindowW(L"QvQueueHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  QvQueue *q = EXPORT(QvQueueCreate)();
  const int notify = EXPORT(QvQueueNotifyWindow)(q, window, kDone);
  QvOp *op = EXPORT(QvStartHeartbeat)(EXPORT(QvDefaultSession)(), q, nullptr);
  MSG m{};
  bool posted = false;
  for (int waits = 0; !posted && waits < 50; ++waits) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    posted = ::PeekMessageW(&m, window, kDone, kDone, PM_REMOVE) != 0;
  }
  QvOp *taken = EXPORT(QvQueueNext)(q, 0);
  const int ok = window && notify && posted && op && taken == op && EXPORT(QvOpResult)(taken);
  std::printf("queue_window_state %d window=%d notify=%d posted=%d\n", ok, window ? 1 : 0, notify,
              posted ? 1 : 0);
  EXPORT(QvOpFree)(taken);
  EXPORT(QvQueueDestroy)(q);
  ::DestroyWindow(window);
  return ok;
}

void run(const std::vector<std::string> &a) {
  const std::string &step = a[0];
  char msg[QV_BODY_BUFFER_SIZE] = "", p1[QV_PARAM_BUFFER_SIZE] = "", p2[QV_PARAM_BUFFER_SIZE] = "",
       p3[QV_PARAM_BUFFER_SIZE] = "";
  int32_t code = -99, length = -99;
  int r = -1;
  if (step == "init")
    r = EXPORT(dllInitialize)();
  else if (step == "tcpinit")
    r = EXPORT(TcpInit)();
  else if (step == "release")
    r = EXPORT(dllUnInitialize)();
  else if (step == "disconnect")
    r = EXPORT(TcpDisconnect)();
  else if (step == "timeout")
    r = EXPORT(SetReadTimeout)(num(a, 1));
  else if (step == "connect" || step == "fxconnect") {
    auto f = step == "connect" ? EXPORT(TcpConnect) : EXPORT(fxTcpConnect);
    r = f(msg, arg(a, 1).c_str(), num(a, 2), num(a, 3), arg(a, 4).c_str(), arg(a, 5).c_str(),
          num(a, 6), arg(a, 7).c_str(), arg(a, 8).c_str());
  } else if (step == "login") {
    r = EXPORT(Login_Request)(arg(a, 1).c_str(), arg(a, 2).c_str(), arg(a, 3).c_str(),
                              arg(a, 4).c_str(), arg(a, 5).c_str());
  } else if (step == "feedback")
    r = EXPORT(Login_Feedback)(&code, msg, p1, p2, p3);
  else if (step == "relogin")
    r = EXPORT(ReLogin)();
  else if (step == "heartbeat")
    r = EXPORT(Heartbeat)();
  else if (step == "queue_event")
    r = queue_event();
  else if (step == "queue_window")
    r = queue_window();
  else if (step == "mms")
    r = EXPORT(MMSMaxSize)(&code, msg, p1, arg(a, 1).c_str(), arg(a, 2).c_str());
  else if (step == "numrule")
    r = EXPORT(NumRule)(&code, msg);
  else if (step == "getmessage")
    r = find<decltype(&qv_GetMessage)>("GetMessage")(&code, msg);
  else if (step == "submitallover")
    r = EXPORT(SubmitAllOver)(&code, msg);
  else if (step == "fxlogin") {
    r = EXPORT(fxLogin_Req)(&code, &length, arg(a, 1).c_str(), arg(a, 2).c_str(), arg(a, 3).c_str(),
                            arg(a, 4).c_str(), arg(a, 5).c_str());
    if (r) {
      int32_t agent = -99, agreement = -99;
      const int resp = EXPORT(fxLogin_Resp)(msg, &agent, p1, &agreement, code, length);
      std::printf("fxlogin_resp %d agent=%d agreement=%d pud=%s\n", resp, agent, agreement,
                  hex(p1).c_str());
    }
  } else if (step == "fxnumrule") {
    r = EXPORT(fxNumRule_Req)(&code, &length);
    if (r) std::printf("fxnumrule_resp %d\n", EXPORT(fxNumRule_Resp)(msg, code, length));
  } else if (step == "checktels") {
    const std::string number = arg(a, 1), list = arg(a, 2);
    std::vector<char> n(number.size() + 4), l(list.size() + 4);
    r = EXPORT(CheckTels)(
        qv_length_prefixed(n.data(), number.data(), static_cast<int32_t>(number.size())),
        qv_length_prefixed(l.data(), list.data(), static_cast<int32_t>(list.size())));
  } else if (step == "readini")
    r = EXPORT(ReadIniFile)(msg, arg(a, 1).c_str());
  else if (step == "web") {
    static char body[1 << 20];
    body[0] = 0;
    int32_t elapsed = -99;
    r = EXPORT(WebRequest)(body, &elapsed, arg(a, 1).c_str());
    std::printf("web_body %s elapsed_set=%d\n", hex(body).c_str(), elapsed != -99);
  } else if (step == "version")
    r = print_version();
  else if (step == "about") {
    r = EXPORT(ShowAbout)();
    print_about_windows();
  } else if (step == "msg" || step == "msgnull") {
    MessageBoxSeen seen;
    std::thread closer(close_message_box, std::ref(seen));
    const std::string text = arg(a, 1);
    r = EXPORT(ShowMsg)(step == "msg" ? text.c_str() : nullptr);
    closer.join();
    std::printf("msg_box %d texts=%s buttons=%s centred=%d\n", seen.found ? 1 : 0,
                seen.texts.c_str(), seen.buttons.c_str(), seen.centred ? 1 : 0);
  } else {
    std::printf("unknown step %s\n", step.c_str());
    std::exit(2);
  }
  std::printf("%s %d code=%d length=%d msg=%s p1=%s p2=%s p3=%s\n", step.c_str(), r, code, length,
              hex(msg).c_str(), hex(p1).c_str(), hex(p2).c_str(), hex(p3).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  g_dll = ::LoadLibraryA("Quorvex.dll");
  if (!g_dll) {
    std::printf("cannot load Quorvex.dll (%lu)\n", ::GetLastError());
    return 3;
  }
  std::vector<std::string> step;
  for (int i = 1; i <= argc; ++i) {
    if (i == argc || std::strcmp(argv[i], "--") == 0) {
      if (!step.empty()) run(step);
      step.clear();
    } else {
      step.emplace_back(argv[i]);
    }
  }
  ::FreeLibrary(g_dll);
  return 0;
}
