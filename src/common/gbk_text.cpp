#include "common/gbk_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/code_page.h"

namespace qv::text {

namespace {

constexpr char32_t kReplacement = 0xfffd;
constexpr char32_t kNotUtf8 = 0;

// The code point starting at utf8[at] and its length; kNotUtf8 with length
// 1 for anything that is not a shortest-form scalar value.
char32_t next_code_point(std::string_view utf8, size_t at, size_t &length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(utf8[at + i]); };
  const unsigned char lead = byte(0);
  length = 1;
  if (lead < 0x80) return lead;
  size_t n = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2, c = lead & 0x1fU, least = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3, c = lead & 0x0fU, least = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4, c = lead & 0x07U, least = 0x10000;
  } else {
    return kNotUtf8;
  }
  if (at + n > utf8.size()) return kNotUtf8;
  for (size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xc0U) != 0x80) return kNotUtf8;
    c = c << 6 | (byte(i) & 0x3fU);
  }
  if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return kNotUtf8;
  length = n;
  return c;
}

void append_utf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xc0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
  }
}

bool is_lead(unsigned char b) { return b >= 0x81 && b <= 0xfe; }
bool is_trail(unsigned char b) { return b >= 0x40 && b <= 0xfe && b != 0x7f; }

}  // namespace

std::string Unconvertible::describe() const {
  char text[64];
  if (character == kNotUtf8)
    std::snprintf(text, sizeof text, "not UTF-8 at byte %zu", offset);
  else
    std::snprintf(text, sizeof text, "U+%04X, which GBK lacks, at byte %zu",
                  static_cast<unsigned>(character), offset);
  return text;
}

bool gbk_from_utf8(std::string_view utf8, std::string &gbk, Unconvertible &why) {
  gbk.clear();
  gbk.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    size_t length = 1;
    const char32_t c = next_code_point(utf8, at, length);
    unsigned char bytes[2];
    const int n = c == kNotUtf8 && utf8[at] != '\0' ? 0 : platform::gbk_encode_char(c, bytes);
    if (n == 0) {
      why = {at, c};
      return false;
    }
    gbk.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(n));
    at += length;
  }
  return true;
}

std::string utf8_from_gbk(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  for (size_t at = 0; at < gbk.size();) {
    const auto b = static_cast<unsigned char>(gbk[at]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++at;
      continue;
    }
    char32_t c = 0;
    if (is_lead(b) && at + 1 < gbk.size() && is_trail(static_cast<unsigned char>(gbk[at + 1]))) {
      c = platform::gbk_decode_pair(b, static_cast<unsigned char>(gbk[at + 1]));
      at += 2;
    } else {
      ++at;
    }
    append_utf8(out, c == 0 ? kReplacement : c);
  }
  return out;
}

}  // namespace qv::text
