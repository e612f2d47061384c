// Text in a Windows code page to UTF-16, shared by the code-page
// conversions and the XML backend.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qv::platform {

// Invalid byte sequences fail when strict; otherwise they become U+FFFD.
bool widen(std::string_view bytes, UINT cp, std::wstring &out, bool strict = true);

}  // namespace qv::platform
