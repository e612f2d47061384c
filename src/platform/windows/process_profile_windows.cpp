// The host's executable and private-profile files, through the system.
#include <windows.h>

#include <string>

#include "platform/process.h"
#include "platform/profile.h"

namespace qv::platform {

std::optional<std::string> executable_directory() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::nullopt;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return std::nullopt;
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::nullopt;
  return path.substr(0, slash + 1);
}

bool read_profile_string(const std::string &path, const char *section, const char *key, char *out,
                         size_t size) {
  if (!out || size == 0 || size > 0x7fffffff) return false;
  ::GetPrivateProfileStringA(section, key, "", out, static_cast<DWORD>(size), path.c_str());
  return true;
}

}  // namespace qv::platform
