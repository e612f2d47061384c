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
  for (size_t k = 2; k + 1 < s.size(); k += 2) out.push_back(static_cast<char>(std::strtol(s.substr(k, 2).c_str(), nullptr, 16)));
  return out;
}
int num(const std::vector<std::string> &a, size_t i) { return i < a.size() ? std::atoi(a[i].c_str()) : 0; }

void run(const std::vector<std::string> &a) {
  const std::string &step = a[0];
  char msg[QV_BODY_BUFFER_SIZE] = "", p1[QV_PARAM_BUFFER_SIZE] = "", p2[QV_PARAM_BUFFER_SIZE] = "",
       p3[QV_PARAM_BUFFER_SIZE] = "";
  int32_t code = -99, length = -99;
  int r = -1;
  if (step == "init") r = EXPORT(dllInitialize)();
  else if (step == "tcpinit") r = EXPORT(TcpInit)();
  else if (step == "release") r = EXPORT(dllUnInitialize)();
  else if (step == "disconnect") r = EXPORT(TcpDisconnect)();
  else if (step == "timeout") r = EXPORT(SetReadTimeout)(num(a, 1));
  else if (step == "connect" || step == "fxconnect") {
    auto f = step == "connect" ? EXPORT(TcpConnect) : EXPORT(fxTcpConnect);
    r = f(msg, arg(a, 1).c_str(), num(a, 2), num(a, 3), arg(a, 4).c_str(), arg(a, 5).c_str(), num(a, 6),
          arg(a, 7).c_str(), arg(a, 8).c_str());
  } else if (step == "login") {
    r = EXPORT(Login_Request)(arg(a, 1).c_str(), arg(a, 2).c_str(), arg(a, 3).c_str(), arg(a, 4).c_str(),
                              arg(a, 5).c_str());
  } else if (step == "feedback") r = EXPORT(Login_Feedback)(&code, msg, p1, p2, p3);
  else if (step == "relogin") r = EXPORT(ReLogin)();
  else if (step == "heartbeat") r = EXPORT(Heartbeat)();
  else if (step == "mms") r = EXPORT(MMSMaxSize)(&code, msg, p1, arg(a, 1).c_str(), arg(a, 2).c_str());
  else if (step == "numrule") r = EXPORT(NumRule)(&code, msg);
  else if (step == "getmessage") r = find<decltype(&qv_GetMessage)>("GetMessage")(&code, msg);
  else if (step == "submitallover") r = EXPORT(SubmitAllOver)(&code, msg);
  else if (step == "fxlogin") {
    r = EXPORT(fxLogin_Req)(&code, &length, arg(a, 1).c_str(), arg(a, 2).c_str(), arg(a, 3).c_str(),
                            arg(a, 4).c_str(), arg(a, 5).c_str());
    if (r) {
      int32_t agent = -99, agreement = -99;
      const int resp = EXPORT(fxLogin_Resp)(msg, &agent, p1, &agreement, code, length);
      std::printf("fxlogin_resp %d agent=%d agreement=%d pud=%s\n", resp, agent, agreement, hex(p1).c_str());
    }
  } else if (step == "fxnumrule") {
    r = EXPORT(fxNumRule_Req)(&code, &length);
    if (r) std::printf("fxnumrule_resp %d\n", EXPORT(fxNumRule_Resp)(msg, code, length));
  } else if (step == "checktels") {
    const std::string number = arg(a, 1), list = arg(a, 2);
    std::vector<char> n(number.size() + 4), l(list.size() + 4);
    r = EXPORT(CheckTels)(qv_length_prefixed(n.data(), number.data(), static_cast<int32_t>(number.size())),
                          qv_length_prefixed(l.data(), list.data(), static_cast<int32_t>(list.size())));
  } else if (step == "readini") r = EXPORT(ReadIniFile)(msg, arg(a, 1).c_str());
  else if (step == "web") {
    static char body[1 << 20];
    body[0] = 0;
    int32_t elapsed = -99;
    r = EXPORT(WebRequest)(body, &elapsed, arg(a, 1).c_str());
    std::printf("web_body %s elapsed_set=%d\n", hex(body).c_str(), elapsed != -99);
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
