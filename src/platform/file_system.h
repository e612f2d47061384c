// What the system says of where a file lives.
#pragma once

#include <string>

namespace qv::platform {

// Whether path (or, for a file not there yet, its folder) is on a network
// file system (NFS, SMB/CIFS, a mapped network drive, a UNC path), where
// file locks and syncs cannot be trusted.  False when the system cannot
// tell.
bool on_network_file_system(const std::string &path);

}  // namespace qv::platform
