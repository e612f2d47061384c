// Prints the command-line host's text conversions of seeded random texts,
// one line each: built for Linux and for Windows, the two must print the
// same lines (iconv on one side, the system's code page 936 on the other).
#include <cstdio>
#include <random>
#include <string>

#include "text_codec.h"

namespace {

std::string hex(const std::string &bytes) {
  std::string out;
  char two[3];
  for (const char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
    out += two;
  }
  return out;
}

void put_utf8(std::string &to, char32_t c) {
  if (c < 0x80) {
    to += static_cast<char>(c);
  } else if (c < 0x800) {
    to += static_cast<char>(0xC0 | c >> 6);
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    to += static_cast<char>(0xE0 | c >> 12);
    to += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    to += static_cast<char>(0xF0 | c >> 18);
    to += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    to += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

int main() {
  std::mt19937 random(25);
  const auto pick = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
  // Bytes around GBK's boundaries: ASCII, 0x80, lead and trail limits,
  // user-defined areas, and quotes and controls that the display escapes.
  const unsigned char edges[] = {0x00, 0x0A, 0x22, 0x30, 0x40, 0x5C, 0x7E, 0x7F, 0x80, 0x81,
                                 0xA0, 0xA1, 0xAA, 0xAF, 0xB0, 0xD2, 0xF7, 0xF8, 0xFE, 0xFF};
  // Characters with and without a GBK form, from every UTF-8 length.
  const char32_t characters[] = {U'A',      U'\u00B7', U'\u00E9', U'\u20AC', U'\u2014',
                                 U'\u4E2D', U'\u9FA5', U'\uE000', U'\uFF01', U'\U0001F600'};
  for (int i = 0; i < 5000; ++i) {
    std::string gbk;
    for (unsigned n = pick(8); n > 0; --n)
      gbk += static_cast<char>(pick(3) == 0 ? pick(256) : edges[pick(sizeof edges)]);
    std::string utf8;
    for (unsigned n = pick(6); n > 0; --n) {
      if (pick(8) == 0)
        utf8 += static_cast<char>(0x80 + pick(128));  // a stray continuation or lead byte
      else
        put_utf8(utf8, characters[pick(std::size(characters))]);
    }
    const auto to_gbk = qv::cli::utf8_to_gbk(utf8);
    std::printf("%s %s %s\n", qv::cli::quoted_from_gbk(gbk).c_str(), hex(utf8).c_str(),
                to_gbk ? hex(*to_gbk).c_str() : "-");
  }
  return 0;
}
