// GBK bytes of a readable UTF-8 text, converted by the C library's iconv so
// that expectations do not come from the library's own text table.
#pragma once

#include <string>
#include <string_view>

namespace qvtest {

std::string gbk(std::string_view utf8);

}  // namespace qvtest
