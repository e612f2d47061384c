// QvGbkFromUtf8 and QvUtf8FromGbk: the library's one text policy, for
// hosts and bindings that would otherwise each pick a code page of their
// own.
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "api/guard.h"
#include "common/gbk_text.h"
#include "connection/call_outcome.h"
#include "quorvex.h"

using namespace qv;

namespace {

// The input text: Length bytes, or up to the zero byte when Length is -1.
bool input(const char *text, int32_t length, std::string_view &out) {
  if (!text) {
    connection::refuse(1, "Argument 1 is null.");
    return false;
  }
  if (length < -1) {
    connection::refuse(2, "Argument 2 is below -1.");
    return false;
  }
  out = length == -1 ? std::string_view(text) : std::string_view(text, static_cast<size_t>(length));
  return true;
}

// The converted text into the caller's buffer when it fits with its
// terminator; its length either way, -1 when it is too long to report.
int32_t hand_over(const std::string &text, char *to, int32_t size) {
  if (text.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    connection::other_failure("The converted text is longer than 2147483646 bytes.");
    return -1;
  }
  const auto length = static_cast<int32_t>(text.size());
  if (to && size > length) {
    std::memcpy(to, text.data(), text.size());
    to[length] = '\0';
  }
  return length;
}

// A conversion that succeeds leaves the thread's last outcome to the call
// before it: bindings convert a call's output texts after the call, before
// the host asks GetLastOutcome how that call went.
template <class Convert>
int32_t converted(Convert &&convert, api::Where where) {
  const connection::CallOutcome before = connection::this_thread_outcome();
  int32_t result = -1;
  api::guarded(
      [&] {
        result = convert();
        return result >= 0;
      },
      where);
  if (result >= 0) connection::this_thread_outcome() = before;
  return result;
}

}  // namespace

extern "C" {

QV_EXPORT int32_t QV_CALL QvGbkFromUtf8(const char *Utf8, int32_t Length, char *Gbk, int32_t Size) {
  return converted(
      [&]() -> int32_t {
        std::string_view in;
        if (!input(Utf8, Length, in)) return -1;
        std::string out;
        text::Unconvertible why;
        if (!text::gbk_from_utf8(in, out, why)) {
          connection::refuse(1, "Argument 1 is " + why.describe() + ".");
          return -1;
        }
        return hand_over(out, Gbk, Size);
      },
      "QvGbkFromUtf8");
}

QV_EXPORT int32_t QV_CALL QvUtf8FromGbk(const char *Gbk, int32_t Length, char *Utf8, int32_t Size) {
  return converted(
      [&]() -> int32_t {
        std::string_view in;
        if (!input(Gbk, Length, in)) return -1;
        return hand_over(text::utf8_from_gbk(in), Utf8, Size);
      },
      "QvUtf8FromGbk");
}

}  // extern "C"
