#include <windows.h>

#include <vector>

#include "platform/file_system.h"
#include "platform/windows/wide_text.h"

namespace qv::platform {

bool on_network_file_system(const std::string &path) {
  std::wstring wide;
  if (!widen(path, CP_ACP, wide, false)) return false;
  if (wide.rfind(L"\\\\", 0) == 0 && wide.rfind(L"\\\\?\\", 0) != 0) return true;  // a UNC path
  std::vector<wchar_t> root(MAX_PATH + 1);
  if (!::GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size())))
    return false;
  return ::GetDriveTypeW(root.data()) == DRIVE_REMOTE;
}

std::string utf8_path(const std::string &path) {
  std::wstring wide;
  if (!widen(path, CP_ACP, wide, false) || wide.empty()) return path;
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  if (n <= 0) return path;
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
  return utf8;
}

}  // namespace qv::platform
