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

// The GBK bytes of one character into out: 1 for ASCII, 2 for a
// double-byte character, 0 when GBK lacks it.  The system's own table is
// asked, so a character it maps to anything else (a single byte above 7F,
// a best fit) counts as lacking.
int gbk_encode_char(char32_t c, unsigned char out[2]);

// The character of one GBK double-byte pair; 0 when the pair is none.
char32_t gbk_decode_pair(unsigned char lead, unsigned char trail);

}  // namespace qv::platform
