#include "text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace qv::cli {

namespace {

class Converter {
 public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;

  // Converts as much of `in` as it can, appending to `out`; returns false
  // at the first byte that cannot be converted, leaving `in` at it.
  bool convert(std::string_view &in, std::string &out) {
    char buffer[256];
    while (!in.empty()) {
      char *src = const_cast<char *>(in.data());
      size_t src_left = in.size();
      char *dst = buffer;
      size_t dst_left = sizeof buffer;
      const size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      const int error = errno;
      out.append(buffer, static_cast<size_t>(dst - buffer));
      in.remove_prefix(in.size() - src_left);
      if (rc == static_cast<size_t>(-1) && error != E2BIG) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

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
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
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
  Converter to_gbk("GBK", "UTF-8");
  std::string gbk;
  if (!to_gbk.convert(utf8, gbk)) return std::nullopt;
  return gbk;
}

std::string quoted_from_gbk(std::string_view gbk) {
  Converter from_gbk("UTF-8", "GBK");
  std::string out = "\"";
  while (!gbk.empty()) {
    std::string utf8;
    const bool complete = from_gbk.convert(gbk, utf8);
    append_escaped(out, utf8);
    if (!complete) {
      out += hex_escape(static_cast<unsigned char>(gbk.front()));
      gbk.remove_prefix(1);
    }
  }
  return out + "\"";
}

}  // namespace qv::cli
