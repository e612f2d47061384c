// The command-line host's system services on Windows: the code-page
// conversions of Windows itself (936 is GBK), the wide command line and
// the program's module path.
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <cstdio>

#include <algorithm>
#include <memory>

#include "cli_os.h"

namespace qv::cli {

namespace {

constexpr UINT kGbk = 936;

std::wstring to_wide(UINT code_page, std::string_view text, bool &ok) {
  std::wstring wide(text.size(), L'\0');
  const int n = text.empty() ? 0
                             : ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                                     static_cast<int>(text.size()), wide.data(),
                                                     static_cast<int>(wide.size()));
  ok = n > 0 || text.empty();
  wide.resize(ok ? static_cast<std::size_t>(n) : 0);
  return wide;
}

// The bytes of `wide` in `code_page`; false when a character has none.
bool from_wide(UINT code_page, std::wstring_view wide, std::string &out) {
  if (wide.empty()) return true;
  BOOL defaulted = FALSE;
  const bool utf8 = code_page == CP_UTF8;
  const int n = ::WideCharToMultiByte(code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                      wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, utf8 ? nullptr : &defaulted);
  if (n <= 0 || defaulted) return false;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n));
  ::WideCharToMultiByte(code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide.data(),
                        static_cast<int>(wide.size()), out.data() + at, n, nullptr, nullptr);
  return true;
}

bool private_use(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// GBK one character at a time, so that a bad byte stops the conversion
// where it lies: ASCII and 0x80 (the euro sign) are one byte, everything
// else a lead byte from 0x81 to 0xFE and its trail byte.  Windows maps
// GBK's user-defined areas and 0xFF into the Private Use Area, which a
// terminal shows as nothing; they count as bad bytes, as iconv has them.
bool gbk_to_utf8(std::string_view &in, std::string &out) {
  while (!in.empty()) {
    const auto lead = static_cast<unsigned char>(in.front());
    const std::size_t size = lead <= 0x80 || lead == 0xFF ? 1 : 2;
    if (in.size() < size) return false;
    bool ok = false;
    const std::wstring wide = to_wide(kGbk, in.substr(0, size), ok);
    if (!ok || wide.size() != 1 || private_use(wide[0]) || !from_wide(CP_UTF8, wide, out))
      return false;
    in.remove_prefix(size);
  }
  return true;
}

bool utf8_to_gbk(std::string_view &in, std::string &out) {
  bool ok = false;
  const std::wstring wide = to_wide(CP_UTF8, in, ok);
  if (!ok || std::any_of(wide.begin(), wide.end(), private_use) || !from_wide(kGbk, wide, out))
    return false;
  in = {};
  return true;
}

}  // namespace

bool convert(Conversion conversion, std::string_view &in, std::string &out) {
  return conversion == Conversion::GbkToUtf8 ? gbk_to_utf8(in, out) : utf8_to_gbk(in, out);
}

// The arguments as typed, from the wide command line: argv holds them in
// the ANSI code page, which loses what it cannot show.
std::vector<std::string> utf8_arguments(int argc, char **argv) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    std::string arg;
    from_wide(CP_UTF8, wide.get()[i], arg);
    args.push_back(std::move(arg));
  }
  return args;
}

void show_utf8_on_console() { ::SetConsoleOutputCP(CP_UTF8); }

std::filesystem::path program_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

void allow_many_sockets() {}

bool stdout_is_terminal() { return ::_isatty(::_fileno(stdout)) != 0; }

std::tm utc_time(std::time_t seconds) {
  std::tm utc{};
  ::gmtime_s(&utc, &seconds);
  return utc;
}

}  // namespace qv::cli
