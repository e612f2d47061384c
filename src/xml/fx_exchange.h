// The XML protocol's framing: a 16-byte FxHeader (Code, PartNo, PartCount,
// Length; little-endian int32s) and Length body bytes.  Every operation is
// split in two: the request half writes the request and reads the reply
// header, the response half reads the body and takes values from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection/session.h"
#include "connection/socket_errors.h"
#include "platform/xml_parser.h"
#include "trace/trace.h"

namespace qv::xml {

inline constexpr int32_t kFxSuccessCode = 20900;
inline constexpr size_t kHeaderSize = 16;
// The longest reply body read: the replies carry a root and a few short
// elements, so a longer one is taken for a lie or an attack.  Reading it
// would tie the host up, so the read fails and the connection is renewed.
inline constexpr int32_t kMaxBodyLength = 1024 * 1024;

// A reply as the request half read it: the header's code and length, and
// the body when it could be read whole.
struct Reply {
  int32_t code = -1;
  int32_t length = 0;
  bool body_read = false;  // false: refused length, or the read failed
  std::string body;
  // What ended the request, its header's read or its body's read.
  std::optional<connection::Error> error;
};

enum class RequestOutcome { Replied, WriteFailed, ReadFailed };

// Sends header and body on the session's connection as one buffer, in one
// write, then reads the reply
// header and the whole body it announces, so that the stream is in step
// when the call returns.  A body that cannot be read whole (too long, cut
// short, late) leaves the connection closed and reply.body_read false; the
// outcome is Replied all the same, since the header arrived.  Never throws.
// secret is the range of the body that the trace masks (the login's
// password, as the body was written), empty for none.
RequestOutcome request(connection::Session &session, int32_t code, std::string_view body,
                       Reply &reply, trace::Secret secret = {0, 0});

// The values of a reply document that one response half takes.
class ReplyDocument {
 public:
  // Reads the body once, keeping the content of the root's first child
  // for each name (the names must outlive the document).  False for a
  // malformed or refused document.
  bool parse(std::string_view body, std::vector<std::string_view> names);

  // The GBK text of the root's first direct child element named name (or
  // whose local name is name); nullopt when the child is missing or has no
  // content.  Throws ParseError when the child holds anything but a single
  // text or CDATA node.  The text is never longer than the body it came
  // from (hosts size their buffers from the reply length): a document in a
  // single-byte encoding can grow in GBK, and is cut at a character.
  std::optional<std::string> value(std::string_view name) const;
  // The same, read as a decimal int32; throws ParseError if it is not one.
  std::optional<int32_t> number(std::string_view name) const;

 private:
  std::vector<std::string_view> names_;
  std::vector<platform::XmlValue> values_;
  size_t body_size_ = 0;
};

struct ParseError {};

}  // namespace qv::xml
