// GBK conversion with iconv.
#include <iconv.h>

#include <cerrno>

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
