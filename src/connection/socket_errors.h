// Errors of the connection layer.  Each carries the English text that a
// connection message puts after its colon.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace qv::connection {

class Error : public std::exception {
 public:
  explicit Error(std::string text) : text_(std::move(text)) {}
  const char *what() const noexcept override { return text_.c_str(); }
  const std::string &text() const { return text_; }

 private:
  std::string text_;
};

// The text of a Windows Sockets error number, empty for numbers outside
// the table.
std::string_view socket_error_text(int number);

// "Socket Error # <number>\r\n<text>".
Error socket_error(int number);

// The error for a platform result: a socket error number, or the given
// text when a bounded wait expired.
Error platform_error(int result, std::string_view timeout_text);

}  // namespace qv::connection
