// Our private-profile (INI) reader for systems without one: a pure function
// of the file's bytes, so that it can be driven without a file.
#pragma once

#include <optional>
#include <string_view>

namespace qv::platform {

// The value of key in the first section named section of an INI text, or
// nothing when that section or that key is missing.  Lines end with LF, CR
// or both; blanks around lines, names and values are dropped; lines whose
// first character is ";" are comments; key lines before the first section
// belong to none.  A section line begins with "[" and its name runs to the
// first "]" (to the end of the line when there is none).  A key line
// without "=" is a key with the empty value.  One pair of matching quotes
// (" or ') around a value is removed.  The value is a view into text.
std::optional<std::string_view> find_profile_value(std::string_view text, std::string_view section,
                                                   std::string_view key);

// Whether two names are equal without regard to ASCII letter case.  Texts
// are GBK: the second byte of a double-byte character is compared exactly,
// since it may fall in the range of ASCII letters.
bool same_profile_name(std::string_view a, std::string_view b);

}  // namespace qv::platform
