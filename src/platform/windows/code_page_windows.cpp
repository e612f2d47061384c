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
