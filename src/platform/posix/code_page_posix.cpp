// GBK conversion with iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/code_page.h"

namespace qv::platform {

namespace {

// One UTF-8 to GBK descriptor per thread, opened at first use: opening one
// loads and sets up the conversion tables, far dearer than converting a
// reply's few values.
class GbkConverter {
 public:
  GbkConverter() : cd_(iconv_open("GBK", "UTF-8")) {}
  ~GbkConverter() {
    if (ok()) iconv_close(cd_);
  }
  GbkConverter(const GbkConverter &) = delete;
  GbkConverter &operator=(const GbkConverter &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  thread_local GbkConverter converter;
  if (!converter.ok()) return std::string(utf8.size(), '?');
  iconv_t cd = converter.get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out;
  out.reserve(utf8.size());
  char *in = const_cast<char *>(utf8.data());
  size_t in_left = utf8.size();
  char chunk[256];
  while (in_left > 0) {
    char *o = chunk;
    size_t o_left = sizeof chunk;
    const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(chunk, sizeof chunk - o_left);
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A character GBK lacks (or a broken sequence): one "?" for the whole
    // UTF-8 sequence.
    const auto lead = static_cast<unsigned char>(*in);
    size_t skip = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    if (skip > in_left) skip = in_left;
    out.push_back('?');
    in += skip;
    in_left -= skip;
  }
  return out;
}

bool gbk_to_utf8(std::string_view gbk, std::string &out) {
  out.clear();
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char *in = const_cast<char *>(gbk.data());
  size_t in_left = gbk.size();
  bool ok = true;
  char chunk[256];
  while (in_left > 0 && ok) {
    char *o = chunk;
    size_t o_left = sizeof chunk;
    const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(chunk, sizeof chunk - o_left);
    ok = rc != static_cast<size_t>(-1) || errno == E2BIG;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace qv::platform

namespace qv::platform {

namespace {

// A descriptor for one character at a time, opened at a thread's first use.
class CharConverter {
 public:
  CharConverter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~CharConverter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  CharConverter(const CharConverter &) = delete;
  CharConverter &operator=(const CharConverter &) = delete;

  // Converts in whole into out; the bytes written, or -1.
  long convert(const void *in, size_t in_size, void *out, size_t out_size) const {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return -1;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char *i = static_cast<char *>(const_cast<void *>(in));
    char *o = static_cast<char *>(out);
    size_t i_left = in_size;
    size_t o_left = out_size;
    if (iconv(cd_, &i, &i_left, &o, &o_left) == static_cast<size_t>(-1) || i_left != 0) return -1;
    return static_cast<long>(out_size - o_left);
  }

 private:
  iconv_t cd_;
};

}  // namespace

int gbk_encode_char(char32_t c, unsigned char out[2]) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  thread_local CharConverter to_gbk("GBK", "UTF-32LE");
  const unsigned char in[4] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                               static_cast<unsigned char>(c >> 16),
                               static_cast<unsigned char>(c >> 24)};
  unsigned char bytes[8];
  if (to_gbk.convert(in, sizeof in, bytes, sizeof bytes) != 2 || bytes[0] < 0x81 ||
      bytes[0] == 0xff)
    return 0;
  out[0] = bytes[0];
  out[1] = bytes[1];
  return 2;
}

char32_t gbk_decode_pair(unsigned char lead, unsigned char trail) {
  thread_local CharConverter from_gbk("UTF-32LE", "GBK");
  const unsigned char in[2] = {lead, trail};
  unsigned char c[8];
  if (from_gbk.convert(in, sizeof in, c, sizeof c) != 4) return 0;
  return static_cast<char32_t>(c[0] | c[1] << 8 | c[2] << 16 | static_cast<uint32_t>(c[3]) << 24);
}

}  // namespace qv::platform
