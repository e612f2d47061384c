// GBK (code page 936), the library's text on the wire and in callers'
// buffers, to and from UTF-8, the text of XML replies and of the trace.
#pragma once

#include <string>
#include <string_view>

namespace qv::platform {

// UTF-8 to GBK; a character that GBK lacks becomes "?".
std::string utf8_to_gbk(std::string_view utf8);

// GBK to UTF-8; false (out unspecified) for bytes that are not GBK text.
bool gbk_to_utf8(std::string_view gbk, std::string &out);

}  // namespace qv::platform
