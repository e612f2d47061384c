// Decimal integers as the protocols carry them in text.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace qv {

// Reads an int32 from decimal digits with an optional sign; the whole text
// must be the number.
inline bool parse_int32(std::string_view text, int32_t &value) {
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  if (text.empty() || (plus && text.front() == '-')) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace qv
