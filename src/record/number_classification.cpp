#include "record/number_classification.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/fixed_texts.h"

namespace qv::record {
namespace {

// Entries between separators; empty pieces are skipped, nothing is trimmed.
bool split(std::string_view text, char separator, std::vector<std::string_view> &out) {
  try {
    size_t at;
    while ((at = text.find(separator)) != std::string_view::npos) {
      if (at > 0) out.push_back(text.substr(0, at));
      text.remove_prefix(at + 1);
    }
    if (!text.empty()) out.push_back(text);
    return true;
  } catch (...) {
    return false;
  }
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

bool listed(const std::vector<std::string_view> &entries, std::string_view prefix,
            std::string_view carrier) {
  std::string key(prefix);
  key.append(carrier);
  return std::any_of(entries.begin(), entries.end(),
                     [&](std::string_view e) { return equal_ignoring_case(e, key); });
}

}  // namespace

int32_t classify_number(std::string_view number, std::string_view carrier_list) {
  if (number.size() < 8 || number.size() > 12) return 0;
  if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  if (number.front() == '0') return 3;
  if (number.size() != 11) return 0;

  std::vector<std::string_view> entries;
  if (!split(carrier_list, ';', entries)) return -1;
  const std::string_view prefix = number.substr(0, 3);
  if (listed(entries, prefix, text::kCarrierMobile.gbk)) return 1;
  if (listed(entries, prefix, text::kCarrierUnicom.gbk)) return 2;
  return 0;
}

}  // namespace qv::record
