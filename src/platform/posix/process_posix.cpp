// The running process on Linux, where /proc names the executable.
#include <string>
#include <unistd.h>

#include "platform/process.h"

namespace qv::platform {

std::optional<std::string> executable_directory() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      break;
    }
    path.resize(path.size() * 2);  // the link may have been cut: try again larger
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  path.resize(slash + 1);
  return path;
}

}  // namespace qv::platform
