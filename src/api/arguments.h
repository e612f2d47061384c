// The argument forms that several exports share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::api {

// A text argument; null is empty.
std::string text_or_empty(const char *t);

// A length-prefixed text: the int32 length sits in the four bytes before the
// first byte; null and negative lengths are empty.
std::string_view length_prefixed(const char *text);

// A text into a buffer of size bytes, cut to fit with its terminator.
void copy_detail(char *to, int32_t size, const char *text);
// The same for a text the library holds, into a caller's buffer of size
// bytes (1 or more).
void copy_text(char *to, size_t size, const std::string &text);

}  // namespace qv::api
