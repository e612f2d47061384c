#include "api/arguments.h"

#include <algorithm>
#include <cstring>

namespace qv::api {

std::string text_or_empty(const char *t) { return t ? std::string(t) : std::string(); }

std::string_view length_prefixed(const char *text) {
  if (!text) return {};
  int32_t length = 0;
  std::memcpy(&length, text - sizeof length, sizeof length);
  return length > 0 ? std::string_view(text, static_cast<size_t>(length)) : std::string_view();
}

void copy_detail(char *to, int32_t size, const char *text) {
  if (!to || size < 1) return;
  const size_t n = std::min(std::strlen(text), static_cast<size_t>(size) - 1);
  std::memcpy(to, text, n);
  to[n] = '\0';
}

void copy_text(char *to, size_t size, const std::string &text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
}

}  // namespace qv::api
