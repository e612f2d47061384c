// GBK conversion with the system's code page 936.
#include <windows.h>

#include <string>

#include "platform/code_page.h"
#include "platform/windows/wide_text.h"

namespace qv::platform {

bool widen(std::string_view bytes, UINT cp, std::wstring &out, bool strict) {
  out.clear();
  if (bytes.empty()) return true;
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int n =
      ::MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                               n) == n;
}

std::string utf8_to_gbk(std::string_view utf8) {
  std::wstring wide;
  widen(utf8, CP_UTF8, wide, false);
  std::string out;
  out.reserve(utf8.size());
  // One code point at a time, so that a character GBK lacks, surrogate
  // pair or not, becomes exactly one "?" and nothing is best-fitted.
  for (size_t i = 0; i < wide.size();) {
    const size_t n = (wide[i] >= 0xd800 && wide[i] < 0xdc00 && i + 1 < wide.size()) ? 2 : 1;
    char buf[8];
    BOOL used = FALSE;
    const int k = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide[i], static_cast<int>(n),
                                        buf, sizeof buf, "?", &used);
    if (k <= 0 || used)
      out.push_back('?');
    else
      out.append(buf, static_cast<size_t>(k));
    i += n;
  }
  return out;
}

bool gbk_to_utf8(std::string_view gbk, std::string &out) {
  out.clear();
  std::wstring wide;
  if (!widen(gbk, 936, wide)) return false;
  if (wide.empty()) return true;
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                               n, nullptr, nullptr) == n;
}

}  // namespace qv::platform

namespace qv::platform {

int gbk_encode_char(char32_t c, unsigned char out[2]) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  wchar_t wide[2];
  int n = 1;
  if (c >= 0x10000) {
    wide[0] = static_cast<wchar_t>(0xd800 + ((c - 0x10000) >> 10));
    wide[1] = static_cast<wchar_t>(0xdc00 + ((c - 0x10000) & 0x3ff));
    n = 2;
  } else {
    wide[0] = static_cast<wchar_t>(c);
  }
  char bytes[8];
  BOOL used = FALSE;
  const int k = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide, n, bytes, sizeof bytes,
                                      nullptr, &used);
  if (k != 2 || used) return 0;
  out[0] = static_cast<unsigned char>(bytes[0]);
  out[1] = static_cast<unsigned char>(bytes[1]);
  if (out[0] < 0x81 || out[0] == 0xff) return 0;
  // The pair must read back as the same character: no best fit.
  return gbk_decode_pair(out[0], out[1]) == c ? 2 : 0;
}

char32_t gbk_decode_pair(unsigned char lead, unsigned char trail) {
  const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  wchar_t wide[2];
  const int n = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, in, 2, wide, 2);
  if (n != 1) return 0;
  return static_cast<char32_t>(wide[0]);
}

}  // namespace qv::platform
