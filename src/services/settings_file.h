// The settings file beside the host's executable: server addresses (or any
// other values) per telephone carrier.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::services {

// Bytes that a value may have; a longer one is cut to this many.
inline constexpr size_t kSettingMaxBytes = 2047;

// The key that a carrier name or key argument reads.
std::string setting_key(std::string_view carrier);

// Reads the carrier's value from section DllSet of Quorvex.ini beside the
// host's executable and copies it, with a zero, into value (which holds
// kSettingMaxBytes + 1 bytes).  A missing file, section or key gives the
// empty value.  Returns false, with value untouched, only for an error of
// the system; a null value refuses the call.
bool read_setting(char *value, const char *carrier);

}  // namespace qv::services
