#include "platform/posix/private_profile.h"

#include <cstddef>

namespace qv::platform {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// A lead byte of a GBK double-byte character.
bool is_lead_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x81 && u <= 0xfe;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The position of the first c that is a character of its own, not the
// second byte of a double-byte character.
size_t find_single(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
    if (is_lead_byte(s[i])) ++i;
  }
  return std::string_view::npos;
}

std::string_view unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

bool same_profile_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (is_lead_byte(a[i])) {
      if (a[i] != b[i]) return false;
      if (++i < a.size() && a[i] != b[i]) return false;
    } else if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::optional<std::string_view> find_profile_value(std::string_view text, std::string_view section,
                                                   std::string_view key) {
  bool inside = false;  // within the first section of that name
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    const std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      // Only the first section of the name counts: a later one of the same
      // name is not searched.
      if (inside) return std::nullopt;
      const std::string_view rest = line.substr(1);
      inside = same_profile_name(trimmed(rest.substr(0, find_single(rest, ']'))), section);
      continue;
    }
    if (!inside) continue;

    const size_t equals = line.find('=');
    if (!same_profile_name(trimmed(line.substr(0, equals)), key)) continue;
    if (equals == std::string_view::npos) return std::string_view();
    return unquoted(trimmed(line.substr(equals + 1)));
  }
  return std::nullopt;
}

}  // namespace qv::platform
