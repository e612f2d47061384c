#include "services/settings_file.h"

#include <cstring>

#include "common/fixed_texts.h"
#include "connection/call_outcome.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace qv::services {
namespace {

constexpr const char *kFileName = "Quorvex.ini";
constexpr const char *kSection = "DllSet";

bool is_ascii_word(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != lower_word[i]) return false;
  }
  return true;
}

}  // namespace

std::string setting_key(std::string_view carrier) {
  if (carrier == text::kCarrierTelecom.gbk || is_ascii_word(carrier, "dx")) return "dx";
  if (carrier == text::kCarrierNetcom.gbk || is_ascii_word(carrier, "wt")) return "wt";
  return std::string(carrier);
}

bool read_setting(char *value, const char *carrier) {
  if (value == nullptr) {
    connection::refuse(1, "Argument 1 (the value buffer) is a null pointer.");
    return false;
  }
  const std::string key = setting_key(carrier ? carrier : "");
  char read[kSettingMaxBytes + 1] = {};
  // An empty key names nothing: the empty value, without asking the file.
  if (!key.empty()) {
    const std::optional<std::string> directory = platform::executable_directory();
    if (!directory) return false;
    if (!platform::read_profile_string(*directory + kFileName, kSection, key.c_str(), read,
                                       sizeof read)) {
      connection::other_failure(
          "The settings file beside the host executable holds no value for this carrier.");
      return false;
    }
  }
  std::memcpy(value, read, std::strlen(read) + 1);
  return true;
}

}  // namespace qv::services
