// Private-profile (INI) files, read the way Windows hosts know them: on
// Windows by the system's own reader, elsewhere by ours with the same rules.
#pragma once

#include <cstddef>
#include <string>

namespace qv::platform {

// Reads the value of key in section of the profile file at path into out,
// which holds size bytes: at most size - 1 bytes of the value and a zero.
// Section and key names are compared without regard to ASCII letter case;
// blanks around names and values are dropped, and one pair of matching
// quotes (" or ') around a value; the first matching section and the first
// matching key in it win; lines beginning with ";" are comments.  A missing
// or unreadable file, section or key gives the empty value.  Returns false
// only for an unexpected error, with out untouched.
bool read_profile_string(const std::string &path, const char *section, const char *key, char *out,
                         size_t size);

}  // namespace qv::platform
