// Errors of the connection layer.  Each carries the English text that a
// connection message puts after its colon.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace qv::connection {

// What kind of failure an error is, so that a host can be told whether
// its request can have reached the server.
enum class Cause : uint8_t {
  Other,           // a refusal by a proxy, a limit, an answer that cannot be used
  Socket,          // a Windows Sockets error; number() holds it
  TimedOut,        // a deadline passed
  Closed,          // the peer closed the connection
  NotConnected,    // no connection is open
  NotInitialised,  // the library holds no connection object
  Interrupted,     // the host disconnected or released from another thread
};

class Error : public std::exception {
 public:
  explicit Error(std::string text, Cause cause = Cause::Other, int number = 0)
      : text_(std::move(text)), cause_(cause), number_(number) {}
  const char *what() const noexcept override { return text_.c_str(); }
  const std::string &text() const { return text_; }
  Cause cause() const { return cause_; }
  // The Windows Sockets number of the failure, 0 when it has none.
  int number() const { return number_; }

 private:
  std::string text_;
  Cause cause_;
  int number_;
};

// Windows Sockets numbers that stand for the library's own causes.
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaNotConnected = 10057;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaNotInitialised = 10093;

// The text of a Windows Sockets error number, empty for numbers outside
// the table.
std::string_view socket_error_text(int number);

// "Socket Error # <number>\r\n<text>".
Error socket_error(int number);

// Any exception as an Error: itself when it is one, else its text, so that
// one catch clause serves both.
Error as_error(const std::exception &e);

// The error of a call that finds no connection object (before
// initialisation or after release), with the text its caller reports.
Error not_initialised(std::string_view text);

// The error of a wait that another thread's disconnect or release ended.
Error interrupted();

// The error for a platform result: a socket error number, or the given
// text when a bounded wait expired.
Error platform_error(int result, std::string_view timeout_text);

}  // namespace qv::connection
