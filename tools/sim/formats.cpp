#include "formats.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace qv::sim {

namespace {

// The size of the character that starts at text[at]: a lead byte 0x81 to
// 0xFE takes the next byte with it, anything else stands alone.
std::size_t char_size(std::string_view text, std::size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  return byte >= 0x81 && byte <= 0xFE && at + 1 < text.size() ? 2 : 1;
}

std::string local_time(const char *format, std::chrono::system_clock::duration offset = {}) {
  const std::time_t now =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + offset);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

bool two_digits(std::string_view text, std::size_t at, int max, int &value) {
  if (text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9') return false;
  value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  return value <= max;
}

}  // namespace

std::string_view gbk_prefix(std::string_view text, std::size_t max_bytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + char_size(text, end);
    if (next > max_bytes) break;
    end = next;
  }
  return text.substr(0, end);
}

std::size_t gbk_length(std::string_view text) {
  std::size_t chars = 0;
  for (std::size_t at = 0; at < text.size(); at += char_size(text, at)) ++chars;
  return chars;
}

bool gbk_contains(std::string_view text, std::string_view word) {
  if (word.empty()) return true;
  for (std::size_t at = 0; at < text.size(); at += char_size(text, at))
    if (text.substr(at, word.size()) == word) return true;
  return false;
}

std::string join_fitting(const std::vector<std::string> &entries, std::size_t max_bytes) {
  static constexpr std::string_view kMore = ";...";
  std::string text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t needed = text.size() + (text.empty() ? 0 : 1) + entries[i].size();
    // An entry that is not the last must leave room for the marker, so
    // that the marker always fits when a later entry does not.
    const std::size_t reserve = i + 1 == entries.size() ? 0 : kMore.size();
    if (needed + reserve > max_bytes) {
      text += text.empty() ? kMore.substr(1) : kMore;
      return text;
    }
    if (!text.empty()) text += ';';
    text += entries[i];
  }
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

std::string xml_escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::string_view> element_text(std::string_view xml, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  const std::size_t begin = xml.find(open);
  if (begin == std::string_view::npos) return std::nullopt;
  const std::size_t from = begin + open.size();
  const std::size_t end = xml.find(close, from);
  if (end == std::string_view::npos) return std::nullopt;
  return xml.substr(from, end - from);
}

bool all_digits(std::string_view text) {
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<int32_t> parse_count(std::string_view text) {
  if (text.empty() || text.size() > 9 || !all_digits(text)) return std::nullopt;
  int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::optional<int32_t> parse_signed(std::string_view text) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool is_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !all_digits(text.substr(0, 4)))
    return false;
  const int year =
      (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
  int month = 0, day = 0;
  if (!two_digits(text, 5, 12, month) || !two_digits(text, 8, 31, day) || month == 0 || day == 0)
    return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool is_time(std::string_view text) {
  int value = 0;
  if (text.size() != 5 && text.size() != 8) return false;
  if (!two_digits(text, 0, 23, value) || text[2] != ':' || !two_digits(text, 3, 59, value))
    return false;
  return text.size() == 5 || (text[5] == ':' && two_digits(text, 6, 59, value));
}

int32_t seconds_of_day(std::string_view time) {
  const auto field = [&](std::size_t at) { return (time[at] - '0') * 10 + (time[at + 1] - '0'); };
  return field(0) * 3600 + field(3) * 60 + (time.size() == 8 ? field(6) : 0);
}

std::string today() { return local_time("%Y-%m-%d"); }
std::string date_from_today(int days) { return local_time("%Y-%m-%d", std::chrono::days(days)); }
std::string now_stamp() { return local_time("%Y-%m-%d %H:%M:%S"); }

std::optional<std::size_t> base64_decoded_size(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  const auto is_alphabet = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
  };
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      // Padding: one or two '=' closing the last group.
      if (i + 2 < text.size() || (i + 2 == text.size() && text[i + 1] != '=')) return std::nullopt;
      ++padding;
    } else if (padding > 0 || !is_alphabet(c)) {
      return std::nullopt;
    }
  }
  return text.size() / 4 * 3 - padding;
}

}  // namespace qv::sim
