// Classifies a phone number by its form and a carrier list, without the
// server.
#pragma once

#include <cstdint>
#include <string_view>

namespace qv::record {

// 1: an 11-digit mobile number whose prefix the list gives the first
// carrier; 2: the second carrier; 3: a fixed-line number (8 to 12 digits
// beginning with 0); 0: anything else; -1: the carrier list could not be
// split.
int32_t classify_number(std::string_view number, std::string_view carrier_list);

}  // namespace qv::record
