// The terminal speaks UTF-8, the library GBK: conversions at the CLI's edge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::cli {

// The GBK bytes of a UTF-8 text; nullopt when the text is not valid UTF-8
// or holds a character that GBK lacks.
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

// A GBK text as a double-quoted UTF-8 literal for the terminal: control
// characters, quotes and backslashes are escaped C-style, and bytes that
// are not valid GBK appear as \xNN.  Never fails.
std::string quoted_from_gbk(std::string_view gbk);

}  // namespace qv::cli
