// The XML parser seam.  A backend reads a reply body in one pass and
// keeps only the values asked for: the root's direct children with the
// wanted names and their content, nothing else, so that a reply costs time
// in proportion to its size and memory in proportion to the values taken.
//
// Before a backend's parser sees the bytes, the caller has fixed their
// encoding and checked the markup against its limits (xml/xml_reply.h).
// A backend never loads a DTD or an external entity and never touches the
// network; a document with a document type declaration is refused by the
// parser itself.  Nothing is printed and no handler of the host's is
// called.
#pragma once

#include <cstddef>
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

// How a document's bytes are written, as the caller found before parsing.
struct XmlEncoding {
  enum class Form { Bytes, Utf16LE, Utf16BE };
  Form form = Form::Bytes;
  // For Form::Bytes: the iconv name and the Windows code page.
  std::string_view iconv_name;
  unsigned code_page = 0;
  size_t bom = 0;  // bytes of a byte-order mark at the start
};

// Parses bytes, written as encoding says, as one document and fills values
// (resized to names.size()) with the content for each wanted name.  False
// for a malformed or refused document (undecodable bytes, elements nested
// deeper than max_depth, a document type declaration).  The caller's
// checks have refused deeper nesting already; a backend that streams the
// document stops at it again as it reads.
bool read_xml_values(std::string_view bytes, const XmlEncoding &encoding, size_t max_depth,
                     const std::vector<std::string_view> &names, std::vector<XmlValue> &values);

}  // namespace qv::platform
