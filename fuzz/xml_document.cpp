// A reply body straight into the reply document, without a connection:
// the parser seam, the rule that takes a named value, and the conversion to
// GBK.  Every value taken must fit in a buffer of the reply's length, which
// is how hosts size the buffers that receive it.
#include <cstdint>
#include <string_view>

#include "xml/fx_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view body(reinterpret_cast<const char *>(data), size);
  qv::xml::ReplyDocument doc;
  if (!doc.parse(body)) return 0;
  for (const std::string_view name : {"agent", "agreement"}) {
    try {
      doc.number(name);
    } catch (const qv::xml::ParseError &) {
    }
  }
  for (const std::string_view name : {"pud", "desc", "states", "types", "rule", "notify"}) {
    try {
      if (const auto value = doc.value(name); value && value->size() > size) __builtin_trap();
    } catch (const qv::xml::ParseError &) {
    }
  }
  return 0;
}
