// The XML parser seam on libxml2, and GBK conversion with iconv.
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <memory>

#include "platform/xml_parser.h"

namespace qv::platform {
namespace {

std::string to_string(const xmlChar *s) { return s ? std::string(reinterpret_cast<const char *>(s)) : std::string(); }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The encoding named in an ASCII-compatible XML declaration, if any.
std::string declared_encoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const size_t end = bytes.find("?>");
  const std::string_view decl = bytes.substr(0, end);
  const size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  size_t q = decl.find_first_of("\"'", at);
  if (q == std::string_view::npos) return {};
  const size_t close = decl.find(decl[q], q + 1);
  if (close == std::string_view::npos) return {};
  return std::string(decl.substr(q + 1, close - q - 1));
}

XmlNode::Kind kind_of(const xmlNode *n) {
  switch (n->type) {
    case XML_ELEMENT_NODE: return XmlNode::Kind::Element;
    case XML_TEXT_NODE: return XmlNode::Kind::Text;
    case XML_CDATA_SECTION_NODE: return XmlNode::Kind::CData;
    default: return XmlNode::Kind::Other;
  }
}

void convert(const xmlNode *n, int levels, XmlNode &out) {
  out.kind = kind_of(n);
  if (out.kind == XmlNode::Kind::Element) {
    out.local_name = to_string(n->name);
    out.name = (n->ns && n->ns->prefix) ? to_string(n->ns->prefix) + ":" + out.local_name : out.local_name;
  } else if (out.kind == XmlNode::Kind::Text || out.kind == XmlNode::Kind::CData) {
    out.text = to_string(n->content);
  }
  if (levels <= 0) return;
  for (const xmlNode *c = n->children; c; c = c->next) {
    out.children.emplace_back();
    convert(c, levels - 1, out.children.back());
  }
}

struct DocFree {
  void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

}  // namespace

bool parse_xml(std::string_view bytes, int levels, XmlNode &root) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
  // gb2312 documents are read as GBK, its superset, as Windows does: a
  // server that declares gb2312 still sends the odd GBK-only character.
  const std::string declared = declared_encoding(bytes);
  const char *encoding = equals_ignoring_case(declared, "gb2312") ? "GBK" : nullptr;
  // With the encoding chosen here, the declaration must not make libxml2
  // switch converters again: each switch opens a fresh iconv descriptor,
  // which costs more than the whole parse of a reply.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                      (encoding ? XML_PARSE_IGNORE_ENC : 0);
  std::unique_ptr<xmlDoc, DocFree> doc(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding, options));
  if (!doc) return false;
  if (doc->intSubset || doc->extSubset) return false;  // no document type declarations
  const xmlNode *element = xmlDocGetRootElement(doc.get());
  if (!element) return false;
  root = XmlNode{};
  convert(element, levels, root);
  return true;
}

namespace {

// One UTF-8 to GBK descriptor per thread, opened at first use: opening one
// loads and sets up the conversion tables, far dearer than converting a
// reply's few values.
class GbkConverter {
 public:
  GbkConverter() : cd_(iconv_open("GBK", "UTF-8")) {}
  ~GbkConverter() {
    if (ok()) iconv_close(cd_);
  }
  GbkConverter(const GbkConverter &) = delete;
  GbkConverter &operator=(const GbkConverter &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  thread_local GbkConverter converter;
  if (!converter.ok()) return std::string(utf8.size(), '?');
  iconv_t cd = converter.get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out;
  out.reserve(utf8.size());
  char *in = const_cast<char *>(utf8.data());
  size_t in_left = utf8.size();
  char chunk[256];
  while (in_left > 0) {
    char *o = chunk;
    size_t o_left = sizeof chunk;
    const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(chunk, sizeof chunk - o_left);
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A character GBK lacks (or a broken sequence): one "?" for the whole
    // UTF-8 sequence.
    const auto lead = static_cast<unsigned char>(*in);
    size_t skip = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    if (skip > in_left) skip = in_left;
    out.push_back('?');
    in += skip;
    in_left -= skip;
  }
  return out;
}

}  // namespace qv::platform
