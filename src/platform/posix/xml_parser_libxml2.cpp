// The XML parser seam on libxml2, and GBK conversion with iconv.
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "platform/xml_parser.h"
#include "platform/xml_reply.h"

namespace qv::platform {
namespace {

// libxml2 reports some errors (encoding errors among them) through the
// calling thread's generic and structured handlers, which belong to the
// host.  While a reply is parsed they point at a handler that drops
// everything, and afterwards back at what they were.
void drop_generic(void *, const char *, ...) {}
void drop_structured(void *, xmlErrorPtr) {}

class QuietErrors {
 public:
  QuietErrors()
      : generic_(xmlGenericError), generic_context_(xmlGenericErrorContext), structured_(xmlStructuredError),
        structured_context_(xmlStructuredErrorContext) {
    xmlSetGenericErrorFunc(nullptr, drop_generic);
    xmlSetStructuredErrorFunc(nullptr, drop_structured);
  }
  ~QuietErrors() {
    xmlSetGenericErrorFunc(generic_context_, generic_);
    xmlSetStructuredErrorFunc(structured_context_, structured_);
  }
  QuietErrors(const QuietErrors &) = delete;
  QuietErrors &operator=(const QuietErrors &) = delete;

 private:
  xmlGenericErrorFunc generic_;
  void *generic_context_;
  xmlStructuredErrorFunc structured_;
  void *structured_context_;
};

struct ReaderFree {
  void operator()(xmlTextReader *r) const { xmlFreeTextReader(r); }
};

std::string_view view(const xmlChar *s) {
  return s ? std::string_view(reinterpret_cast<const char *>(s)) : std::string_view();
}

// Adds one node of a wanted child's content to its value.
void add_content(XmlValue &value, int type, const xmlChar *text) {
  if (type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE ||
      type == XML_READER_TYPE_END_ELEMENT)
    return;
  const bool textual = type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA;
  if (textual && value.kind == XmlValue::Kind::Empty) {
    value.kind = XmlValue::Kind::Text;
    value.text = std::string(view(text));
    return;
  }
  value.kind = XmlValue::Kind::Invalid;
  value.text.clear();
}

}  // namespace

bool read_xml_values(std::string_view bytes, const std::vector<std::string_view> &names,
                     std::vector<XmlValue> &values) {
  values.assign(names.size(), XmlValue{});
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
  const std::optional<ReplyEncoding> encoding = reply_encoding(bytes);
  if (!encoding || !within_reply_limits(bytes, *encoding)) return false;
  // The encoding is chosen here, so that the declaration does not make
  // libxml2 switch converters again (each switch opens a fresh iconv
  // descriptor, dearer than the whole parse of a reply).  UTF-16 with a
  // byte-order mark is left to libxml2, which skips the mark.
  using Form = ReplyEncoding::Form;
  const bool chosen = encoding->form == Form::Bytes || encoding->bom == 0;
  const std::string name(encoding->form == Form::Bytes     ? encoding->iconv_name
                         : encoding->form == Form::Utf16LE ? "UTF-16LE"
                                                           : "UTF-16BE");
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | (chosen ? XML_PARSE_IGNORE_ENC : 0);

  QuietErrors quiet;
  std::unique_ptr<xmlTextReader, ReaderFree> reader(
      xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, chosen ? name.c_str() : nullptr,
                         options));
  if (!reader) return false;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), drop_structured, nullptr);

  // Nodes stream past once: only the root's children with wanted names,
  // and what they directly hold, are looked at; everything else is read
  // and forgotten.
  bool root_seen = false;
  std::vector<XmlValue *> open;  // the values the current child of the root fills
  int rc;
  while ((rc = xmlTextReaderRead(reader.get())) == 1) {
    xmlTextReader *r = reader.get();
    const int type = xmlTextReaderNodeType(r);
    const int depth = xmlTextReaderDepth(r);
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) return false;
    if (depth < 0 || static_cast<size_t>(depth) > kMaxReplyDepth) return false;
    if (depth == 0) {
      if (type == XML_READER_TYPE_ELEMENT) root_seen = true;
      continue;
    }
    if (depth == 1) {
      open.clear();
      if (type != XML_READER_TYPE_ELEMENT) continue;
      const std::string_view qualified = view(xmlTextReaderConstName(r));
      const std::string_view local = view(xmlTextReaderConstLocalName(r));
      for (size_t i = 0; i < names.size(); ++i) {
        if (values[i].kind != XmlValue::Kind::Missing || (names[i] != qualified && names[i] != local)) continue;
        values[i].kind = XmlValue::Kind::Empty;
        if (!xmlTextReaderIsEmptyElement(r)) open.push_back(&values[i]);
      }
      continue;
    }
    if (depth == 2)
      for (XmlValue *v : open) add_content(*v, type, xmlTextReaderConstValue(r));
  }
  return rc == 0 && root_seen;
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

bool gbk_to_utf8(std::string_view gbk, std::string &out) {
  out.clear();
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char *in = const_cast<char *>(gbk.data());
  size_t in_left = gbk.size();
  bool ok = true;
  char chunk[256];
  while (in_left > 0 && ok) {
    char *o = chunk;
    size_t o_left = sizeof chunk;
    const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(chunk, sizeof chunk - o_left);
    ok = rc != static_cast<size_t>(-1) || errno == E2BIG;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace qv::platform
