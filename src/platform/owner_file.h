// Files that only their owner may read: the trace, which shows every
// exchange with the server.
#pragma once

#include <cstdio>
#include <string>

namespace qv::platform {

// Opens path for appending.  A file it creates is its owner's alone (mode
// 0600; on Windows a DACL that admits only the calling user).  It never
// follows a symbolic link at path, never blocks (a FIFO with no reader is
// refused at once) and takes only a regular file; on POSIX systems an
// existing one whose mode lets group or others in is refused as well.  Null with why set to an
// English reason when the file is refused or cannot be opened.
std::FILE *open_owner_append(const char *path, std::string &why);

}  // namespace qv::platform
