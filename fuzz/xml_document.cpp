// A reply body straight into the reply document, without a connection:
// the encoding and limit checks, the parser seam, the rule that takes a
// named value, and the conversion to GBK.  Every value taken must fit in a
// buffer of the reply's length, which is how hosts size the buffers that
// receive it.
//
// Input: the body as it is; or, after a first byte 0xFF and a 16-bit count,
// a piece repeated count times between a head and a tail ("head\0piece\0
// tail"), so that small inputs reach the large documents (many elements,
// many attributes, deep nesting) whose cost must stay in proportion to
// their size.
#include <cstdint>
#include <string>
#include <string_view>

#include "quorvex.h"
#include "xml/fx_exchange.h"

namespace {

std::string expanded(std::string_view in) {
  if (in.size() < 3 || static_cast<unsigned char>(in[0]) != 0xff) return std::string(in);
  const size_t count = static_cast<unsigned char>(in[1]) << 8 | static_cast<unsigned char>(in[2]);
  in.remove_prefix(3);
  const size_t a = in.find('\0'), b = a == std::string_view::npos ? a : in.find('\0', a + 1);
  if (b == std::string_view::npos) return std::string(in);
  const std::string_view head = in.substr(0, a), piece = in.substr(a + 1, b - a - 1),
                         tail = in.substr(b + 1);
  std::string body(head);
  for (size_t i = 0; i < count && body.size() + piece.size() <= QV_FX_REPLY_MAX; ++i) body += piece;
  return body += tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string body = expanded(std::string_view(reinterpret_cast<const char *>(data), size));
  qv::xml::ReplyDocument doc;
  if (!doc.parse(body, {"agent", "agreement", "pud", "desc", "states", "types", "rule", "notify"}))
    return 0;
  for (const std::string_view name : {"agent", "agreement"}) {
    try {
      doc.number(name);
    } catch (const qv::xml::ParseError &) {
    }
  }
  for (const std::string_view name : {"pud", "desc", "states", "types", "rule", "notify"}) {
    try {
      if (const auto value = doc.value(name); value && value->size() > body.size())
        __builtin_trap();
    } catch (const qv::xml::ParseError &) {
    }
  }
  return 0;
}
