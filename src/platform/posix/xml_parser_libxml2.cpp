// The XML parser seam on libxml2.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <cfenv>
#include <memory>

#include "platform/xml_parser.h"

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
      : generic_(xmlGenericError),
        generic_context_(xmlGenericErrorContext),
        structured_(xmlStructuredError),
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

// libxml2 sets up its tables (encodings, dictionaries, globals) at its
// first use, and that set-up is not safe from two threads at once.
// Sessions parse side by side on their own threads, so it runs once before
// the first parse; afterwards this is one load of a flag.  The set-up makes
// its NaN by dividing zero by zero: under a host that unmasks
// floating-point exceptions (Free Pascal's and Delphi's default) that would
// be a SIGFPE inside the library, so it runs with them masked, and the
// host's environment is put back after it.
void init_parser_once() {
  static const bool initialised = [] {
    std::fenv_t host;
    std::feholdexcept(&host);
    xmlInitParser();
    std::fesetenv(&host);
    return true;
  }();
  (void)initialised;
}

}  // namespace

bool read_xml_values(std::string_view bytes, const XmlEncoding &encoding, size_t max_depth,
                     const std::vector<std::string_view> &names, std::vector<XmlValue> &values) {
  init_parser_once();
  values.assign(names.size(), XmlValue{});
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
  // The encoding is chosen here, so that the declaration does not make
  // libxml2 switch converters again (each switch opens a fresh iconv
  // descriptor, dearer than the whole parse of a reply).  UTF-16 with a
  // byte-order mark is left to libxml2, which skips the mark.
  using Form = XmlEncoding::Form;
  const bool chosen = encoding.form == Form::Bytes || encoding.bom == 0;
  const std::string name(encoding.form == Form::Bytes     ? encoding.iconv_name
                         : encoding.form == Form::Utf16LE ? "UTF-16LE"
                                                          : "UTF-16BE");
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                      (chosen ? XML_PARSE_IGNORE_ENC : 0);

  QuietErrors quiet;
  std::unique_ptr<xmlTextReader, ReaderFree> reader(
      xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                         chosen ? name.c_str() : nullptr, options));
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
    if (depth < 0 || static_cast<size_t>(depth) > max_depth) return false;
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
        if (values[i].kind != XmlValue::Kind::Missing ||
            (names[i] != qualified && names[i] != local))
          continue;
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

}  // namespace qv::platform
