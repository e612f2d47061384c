#include <sys/vfs.h>

#include <cstdint>

#include "platform/file_system.h"

namespace qv::platform {

namespace {

// The file systems whose locks and syncs a journal cannot rely on, by the
// magic numbers statfs reports (linux/magic.h and the FUSE-free network
// clients).
constexpr uint32_t kNetworkMagics[] = {
    0x6969,      // NFS
    0x517b,      // SMB
    0xff534d42,  // CIFS
    0xfe534d42,  // SMB2
    0x564c,      // NCP
    0x5346414f,  // AFS
    0x00c36400,  // Ceph
};

}  // namespace

bool on_network_file_system(const std::string &path) {
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    if (::statfs(folder.c_str(), &info) != 0) return false;
  }
  const auto magic = static_cast<uint32_t>(info.f_type);
  for (const uint32_t m : kNetworkMagics)
    if (magic == m) return true;
  return false;
}

std::string utf8_path(const std::string &path) { return path; }

}  // namespace qv::platform
