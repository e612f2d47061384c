// What the library's tests share: caller buffers that show what was written,
// the standard login of the tests, and fixtures that own a loopback server.
#pragma once

#include <quorvex.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "gbk.h"
#include "loopback_server.h"
#include "net_targets.h"
#include "record_bytes.h"

namespace qvtest {

// A caller's output buffer followed by a guard zone.  Every byte starts as
// kFill, so a test sees exactly what the library wrote and where.
template <size_t N>
class OutBuffer {
 public:
  static constexpr char kFill = 'Z';
  static constexpr size_t kGuard = 64;

  OutBuffer() { bytes_.fill(kFill); }
  char *get() { return bytes_.data(); }
  char at(size_t i) const { return bytes_.at(i); }
  // The bytes before the first zero.
  std::string text() const {
    return std::string(bytes_.data(), strnlen(bytes_.data(), bytes_.size()));
  }
  bool untouched() const { return all_fill(0); }
  // Nothing was written past the documented size.
  bool guard_intact() const { return all_fill(N); }

 private:
  bool all_fill(size_t from) const {
    for (size_t i = from; i < bytes_.size(); ++i)
      if (bytes_[i] != kFill) return false;
    return true;
  }
  std::array<char, N + kGuard> bytes_;
};
using MessageBuffer = OutBuffer<QV_BODY_BUFFER_SIZE>;
using ParamBuffer = OutBuffer<QV_PARAM_BUFFER_SIZE>;

// A result code's value before a call: neither -1 nor any code of the tests.
inline constexpr int32_t kUnsetCode = 0x5a5a5a5a;

// Responses that never come fail the test in seconds, not in a minute.
inline constexpr int32_t kTestReadTimeoutMs = 5000;

// The login of most tests, and its record.
inline const char *const kApp = "host-app";
inline const char *const kExtra = "x1";
inline const char *const kName = "demo";
inline const char *const kPwd = "secret";
inline const char *const kVer = "2.1";
inline const Bytes kLoginRecord = rec::login(kApp, kExtra, kName, kPwd, kVer);

inline const Bytes kHeartbeat = rec::make(105);
inline const Bytes kAccepted = rec::make(QV_CODE_ACCEPTED);

// A connection's opening: the standard login, accepted.
inline Script logged_in() { return Script().expect(kLoginRecord).send(kAccepted); }

// Milliseconds that a call takes.
template <class F>
long elapsed_ms(F &&call) {
  auto start = std::chrono::steady_clock::now();
  call();
  auto took = std::chrono::steady_clock::now() - start;
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
}

// Owns a loopback server and, at the end, fails the test for any script
// that went wrong or did not run to its end.
class ServerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ("", server.unfinished());
    EXPECT_EQ("", server.problems());
    dllUnInitialize();
  }

  // TcpConnect straight to the server; the connect's message.
  std::string connect_direct(qv_bool expected = 1) {
    MessageBuffer message;
    EXPECT_EQ(expected,
              TcpConnect(message.get(), "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
    return message.text();
  }

  // Connects and logs in with the standard login (or its texts with
  // another password); the server's connection must open with logged_in().
  void connect_and_login(const char *pwd = kPwd) {
    ASSERT_EQ(gbk("TCP连接成功"), connect_direct());
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, pwd, kVer));
    int32_t code = kUnsetCode;
    MessageBuffer message;
    ParamBuffer p1, p2, p3;
    ASSERT_EQ(1, Login_Feedback(&code, message.get(), p1.get(), p2.get(), p3.get()));
    ASSERT_EQ(QV_CODE_ACCEPTED, code);
  }

  LoopbackServer server;
};

// The same, with the library initialised for the test.
class QuorvexTest : public ServerTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, dllInitialize());
    ASSERT_EQ(1, SetReadTimeout(kTestReadTimeoutMs));
  }
};

}  // namespace qvtest
