// What a reply must pass before a parser sees it: the set of encodings a
// reply may be written in, and the limits on its markup.  Both are decided
// here once, on the raw bytes, so that every platform's parser accepts and
// refuses the same documents, and a hostile reply costs time in proportion
// to its size before any parser runs.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/xml_parser.h"

namespace qv::xml {

// Limits on a reply's markup.  The replies carry a root and a handful of
// short elements; these leave wide room for that and none for the shapes
// that make parsers slow or large.
inline constexpr size_t kMaxReplyAttributes = 32;   // per element
inline constexpr size_t kMaxReplyDepth = 64;        // elements open at once
inline constexpr size_t kMaxReplyNameLength = 256;  // code units of a name
// Namespace declarations in scope at once: a parser looks a prefix up
// among all of them for every element and attribute.
inline constexpr size_t kMaxReplyNamespaces = 32;

using ReplyEncoding = platform::XmlEncoding;

// The encoding of a reply: its byte-order mark, else the encoding its XML
// declaration names, else UTF-8.  Accepted: UTF-8, UTF-16 (LE or BE, by
// mark or by the first characters), GBK (also named gb2312, cp936, x-gbk,
// windows-936), GB18030, ISO-8859-1 (latin1), US-ASCII and the Windows
// code pages 1250 to 1258.  nullopt for any other name, or a declaration
// that contradicts the bytes (UTF-16 declared in single bytes).
std::optional<ReplyEncoding> reply_encoding(std::string_view bytes);

// Whether the markup keeps to the limits above and holds no document type
// declaration.  A linear scan of the raw bytes that knows comments, CDATA
// sections, processing instructions and quoted attribute values; where the
// markup is malformed it stops and leaves the verdict to the parser, which
// stops at the same place.
bool within_reply_limits(std::string_view bytes, const ReplyEncoding &encoding);

}  // namespace qv::xml
