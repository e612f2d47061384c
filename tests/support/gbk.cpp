#include "gbk.h"

#include <iconv.h>

#include <stdexcept>

namespace qvtest {

std::string gbk(std::string_view utf8) {
  iconv_t cd = ::iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no GBK");
  std::string in(utf8);
  std::string out(in.size() * 2 + 4, '\0');
  char *src = in.data();
  char *dst = out.data();
  size_t src_left = in.size();
  size_t dst_left = out.size();
  size_t r = ::iconv(cd, &src, &src_left, &dst, &dst_left);
  ::iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("text not convertible to GBK");
  out.resize(out.size() - dst_left);
  return out;
}

}  // namespace qvtest
