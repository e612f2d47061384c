// The library's connection to a benchmark's responder, logged in as the
// demo account.  Benchmarks that borrow the connection (the connect
// benchmark) drop it; the next ensure() reconnects.
#pragma once

#include <cstdint>
#include <string>

#include "quorvex.h"

namespace qvbench {

class LibrarySession {
 public:
  explicit LibrarySession(uint16_t port) : port_(port) {}
  ~LibrarySession() { drop(); }
  LibrarySession(const LibrarySession &) = delete;
  LibrarySession &operator=(const LibrarySession &) = delete;

  // Empty when logged in; otherwise what went wrong.
  std::string ensure() {
    if (logged_in_) return {};
    char message[QV_BODY_BUFFER_SIZE] = {};
    if (!TcpConnect(message, "127.0.0.1", port_, kConnectTimeoutMs, "", "", 0, "", ""))
      return std::string("TcpConnect failed: ") + message;
    if (!Login_Request("bench", "", "demo", "demo123", "1.0")) return "Login_Request failed";
    int32_t code = -1;
    char p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE], p3[QV_PARAM_BUFFER_SIZE];
    if (!Login_Feedback(&code, message, p1, p2, p3) || code != QV_CODE_ACCEPTED)
      return "Login_Feedback failed, code " + std::to_string(code);
    logged_in_ = true;
    return {};
  }

  void drop() {
    TcpDisconnect();
    logged_in_ = false;
  }

  static constexpr int kConnectTimeoutMs = 5000;

 private:
  uint16_t port_;
  bool logged_in_ = false;
};

}  // namespace qvbench
