// Text between the host's UTF-8 and the GBK of the wire, under one policy
// for every language: out strictly (a character GBK lacks is refused,
// never replaced by "?"), in leniently (what is not GBK reads as U+FFFD,
// never as a guess of a neighbouring code page).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::text {

// Why a UTF-8 text could not become GBK: where, and which character (0
// for bytes that are not UTF-8).
struct Unconvertible {
  size_t offset = 0;
  char32_t character = 0;

  // "not UTF-8 at byte 3", "U+20AC, which GBK lacks, at byte 3".
  std::string describe() const;
};

// UTF-8 to GBK.  False, with why filled and gbk unspecified, for bytes that
// are not UTF-8 (overlong forms, surrogates and code points past U+10FFFF
// included) or a character that GBK lacks (the euro sign and U+0080 among
// them, whatever the system's code page 936 holds).
bool gbk_from_utf8(std::string_view utf8, std::string &gbk, Unconvertible &why);

// GBK to UTF-8: a byte that begins no GBK character (80, FF), a lead byte
// without a valid trail, and a pair that maps to nothing read as U+FFFD.
std::string utf8_from_gbk(std::string_view gbk);

}  // namespace qv::text
