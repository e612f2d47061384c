#include "text_codec.h"

#include <cstdio>

#include "cli_os.h"

namespace qv::cli {

namespace {

std::string hex_escape(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// Escapes the ASCII characters that would garble one line of output.
void append_escaped(std::string &out, std::string_view utf8) {
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F)
          out += hex_escape(byte);
        else
          out += c;
    }
  }
}

}  // namespace

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
  std::string gbk;
  if (!convert(Conversion::Utf8ToGbk, utf8, gbk)) return std::nullopt;
  return gbk;
}

std::string quoted_from_gbk(std::string_view gbk) {
  std::string out = "\"";
  while (!gbk.empty()) {
    std::string utf8;
    const bool complete = convert(Conversion::GbkToUtf8, gbk, utf8);
    append_escaped(out, utf8);
    if (!complete) {
      out += hex_escape(static_cast<unsigned char>(gbk.front()));
      gbk.remove_prefix(1);
    }
  }
  return out + "\"";
}

}  // namespace qv::cli
