// Helpers for the GBK texts that the simulator reads and writes: cutting
// at character boundaries, counting characters, keyword search, XML
// escaping, and the small parsers of the platform's text formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::sim {

// The longest prefix of text of at most max_bytes that does not split a
// double-byte GBK character.
std::string_view gbk_prefix(std::string_view text, std::size_t max_bytes);

// Characters of a GBK text: an ASCII byte or a double-byte pair is one.
std::size_t gbk_length(std::string_view text);

// Whether word occurs in text starting at a character boundary, so that
// the second byte of one character and the first of the next never match.
bool gbk_contains(std::string_view text, std::string_view word);

// Joins entries with ';' and stops before the entry that would make the
// text longer than max_bytes; when entries are left off, the text ends with
// the marker ";..." (counted in max_bytes).
std::string join_fitting(const std::vector<std::string> &entries, std::size_t max_bytes);

// Splits at every separator byte; empty pieces are kept.
std::vector<std::string_view> split(std::string_view text, char separator);

// Escapes &, <, > and " for XML element content.
std::string xml_escaped(std::string_view text);

// The text between the first <tag> and the </tag> after it; nullopt when
// either is missing.  No entity is decoded: the platform's XML login sends
// its texts unescaped.
std::optional<std::string_view> element_text(std::string_view xml, std::string_view tag);

// A decimal number without sign of 1 to 9 digits.
std::optional<int32_t> parse_count(std::string_view text);
// A decimal int32 with an optional leading minus sign.
std::optional<int32_t> parse_signed(std::string_view text);

bool all_digits(std::string_view text);

// A calendar date "YYYY-MM-DD" and a time of day "HH:MM" or "HH:MM:SS".
bool is_date(std::string_view text);
bool is_time(std::string_view text);
// "HH:MM[:SS]" as seconds since midnight; the text must satisfy is_time.
int32_t seconds_of_day(std::string_view time);

// Today's local date as "YYYY-MM-DD", the date `days` from it, and the
// local time as "YYYY-MM-DD HH:MM:SS".
std::string today();
std::string date_from_today(int days);
std::string now_stamp();

// Standard base64 (RFC 4648) of whole 4-character groups, '=' padding
// only in the last group; nullopt when malformed.  Returns the number of
// bytes it encodes.
std::optional<std::size_t> base64_decoded_size(std::string_view text);

}  // namespace qv::sim
