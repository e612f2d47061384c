// The running process as the system sees it.
#pragma once

#include <optional>
#include <string>

namespace qv::platform {

// The directory of the process's executable file (the host's, not the
// library's), ending with the platform's path separator.  Nothing when the
// system cannot tell.
std::optional<std::string> executable_directory();

}  // namespace qv::platform
