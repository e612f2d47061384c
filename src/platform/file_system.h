// What the system says of where a file lives.
#pragma once

#include <string>

namespace qv::platform {

// Whether path (or, for a file not there yet, its folder) is on a network
// file system (NFS, SMB/CIFS, a mapped network drive, a UNC path), where
// file locks and syncs cannot be trusted.  False when the system cannot
// tell.
bool on_network_file_system(const std::string &path);

// A file path as the host passed it, in UTF-8, the encoding SQLite opens
// paths in.  Hosts pass paths in the system's own encoding: UTF-8 on
// POSIX systems, where the path is returned as it is; the ANSI code page
// on Windows, read as the system's "A" file functions read it (a byte
// sequence the code page lacks becomes U+FFFD, never an error).
std::string utf8_path(const std::string &path);

}  // namespace qv::platform
