// The XML parser seam.  A backend parses a reply body into this small tree,
// taking the encoding from the document's own declaration or byte-order
// mark.  It never loads a DTD or an external entity and never touches the
// network; a document with a document type declaration is refused, which
// also stops entity-expansion bombs before they start.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

struct XmlNode {
  enum class Kind { Element, Text, CData, Other };
  Kind kind = Kind::Other;
  std::string name;        // qualified name of an element ("p:agent")
  std::string local_name;  // name without its prefix ("agent")
  std::string text;        // UTF-8 text of a text or CDATA node
  std::vector<XmlNode> children;
};

// Parses bytes as one document and gives its root element with the given
// number of levels below it (deeper nodes are left out).  Returns false for
// a malformed or refused document.  Whitespace-only text nodes are kept
// here; the layer above drops them, so that every backend answers alike.
bool parse_xml(std::string_view bytes, int levels, XmlNode &root);

// UTF-8 to GBK (code page 936); a character that GBK lacks becomes "?".
std::string utf8_to_gbk(std::string_view utf8);

}  // namespace qv::platform
