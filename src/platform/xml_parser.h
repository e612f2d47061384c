// The XML parser seam.  A backend reads a reply body in one pass and
// keeps only the values asked for: the root's direct children with the
// wanted names and their content, nothing else, so that a reply costs time
// in proportion to its size and memory in proportion to the values taken.
//
// Before a backend's parser sees the bytes, the encoding is fixed by
// reply_encoding() and the markup checked by within_reply_limits()
// (xml_reply.h).  A backend never loads a DTD or an external entity and
// never touches the network; a document with a document type declaration
// is refused by the parser itself.  Nothing is printed and no handler of
// the host's is called.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

// The content of the root's first direct child element whose qualified
// name ("p:agent") or local name ("agent") equals a wanted name.
// Whitespace-only text nodes (space, tab, CR, LF) do not count:
//  - Missing: no such child;
//  - Empty: the child holds nothing else;
//  - Text: it holds exactly one text node or one CDATA section (its text,
//    UTF-8, may be empty for an empty CDATA section);
//  - Invalid: anything else (two or more nodes, an element, a comment, a
//    processing instruction).
struct XmlValue {
  enum class Kind { Missing, Empty, Text, Invalid };
  Kind kind = Kind::Missing;
  std::string text;
};

// Parses bytes as one document and fills values (resized to names.size())
// with the content for each wanted name.  False for a malformed or refused
// document (an encoding outside the reply set, markup beyond the limits, a
// document type declaration).
bool read_xml_values(std::string_view bytes, const std::vector<std::string_view> &names,
                     std::vector<XmlValue> &values);

}  // namespace qv::platform
