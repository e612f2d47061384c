// The XML parser seam on MSXML 3 ("Msxml2.DOMDocument.3.0").
//
// The body is decoded here, in the encoding that the caller fixed,
// and handed to MSXML as text with the encoding left out of its XML
// declaration: MSXML builds differ in the encoding labels they know, and
// this way every build, and the libxml2 backend, read a document alike.
//
// The parse runs on the calling thread, whichever it is: COM is
// initialised for that thread for the parse where it is not already, and
// only that initialisation is undone afterwards.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/wide_text.h"
#include "platform/xml_parser.h"

namespace qv::platform {
namespace {

// IXMLDOMDocument2, the document with setProperty; mingw-w64's uuid
// library lacks its IID.
constexpr IID kIidXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr &operator=(ComPtr &&other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T **out() {
    reset();
    return &p_;
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T *p_ = nullptr;
};

struct Bstr {
  BSTR s = nullptr;
  Bstr() = default;
  explicit Bstr(const std::wstring &text)
      : s(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  ~Bstr() { ::SysFreeString(s); }
  std::wstring_view view() const {
    return s ? std::wstring_view(s, ::SysStringLen(s)) : std::wstring_view();
  }
};

// COM for the calling thread while a parse runs.  S_OK and S_FALSE both
// count a reference that this parse must give back; RPC_E_CHANGED_MODE
// means the thread already lives in an apartment of another kind, which
// serves as well and is none of the parse's business to end.
class ComForThisThread {
 public:
  ComForThisThread() : owned_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComForThisThread() {
    if (owned_) ::CoUninitialize();
  }
  ComForThisThread(const ComForThisThread &) = delete;
  ComForThisThread &operator=(const ComForThisThread &) = delete;

 private:
  bool owned_;
};

// UTF-16 code units in the given byte order; false for a cut-off unit or a
// surrogate without its partner.
bool utf16_units(std::string_view bytes, bool little_endian, std::wstring &out) {
  if (bytes.size() % 2 != 0) return false;
  out.resize(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]),
               b = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<wchar_t>(little_endian ? (a | b << 8) : (b | a << 8));
  }
  for (size_t i = 0; i < out.size(); ++i) {
    const bool high = out[i] >= 0xd800 && out[i] < 0xdc00,
               low = out[i] >= 0xdc00 && out[i] < 0xe000;
    if (low) return false;
    if (high && (++i == out.size() || out[i] < 0xdc00 || out[i] >= 0xe000)) return false;
  }
  return true;
}

bool is_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Takes the encoding pseudo-attribute out of an XML declaration at the
// start of text: the text is already decoded, and MSXML would otherwise
// judge the label by its own list.  Anything else in the declaration stays
// for MSXML to check.
void drop_declared_encoding(std::wstring &text) {
  if (text.compare(0, 5, L"<?xml") != 0 || text.size() < 6 || !is_space(text[5])) return;
  const std::wstring_view declaration = std::wstring_view(text).substr(0, text.find(L"?>"));
  const size_t end = declaration.size();
  for (size_t at = declaration.find(L"encoding", 5); at != std::wstring_view::npos;
       at = declaration.find(L"encoding", at + 1)) {
    if (!is_space(text[at - 1])) continue;
    size_t i = at + 8;
    while (i < end && is_space(text[i])) ++i;
    if (i == end || text[i] != L'=') continue;
    for (++i; i < end && is_space(text[i]);) ++i;
    if (i == end || (text[i] != L'"' && text[i] != L'\'')) continue;
    const size_t close = declaration.find(text[i], i + 1);
    if (close == std::wstring_view::npos) return;
    text.erase(at, close + 1 - at);
    return;
  }
}

// Whether bytes use only what the code page defines.  The system's tables
// give a byte that a code page leaves undefined a character all the same
// (US-ASCII drops the high bit, the 125x pages give C1 controls, GBK
// private-use characters); iconv refuses those bytes, and so does this
// backend, so that both read a document alike.
bool defined_in(unsigned code_page, std::string_view bytes, const std::wstring &text) {
  const auto any = [&](wchar_t low, wchar_t high) {
    return std::any_of(text.begin(), text.end(), [=](wchar_t c) { return c >= low && c <= high; });
  };
  if (code_page == 20127)
    return std::none_of(bytes.begin(), bytes.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (code_page >= 1250 && code_page <= 1258) return !any(0x80, 0x9f);
  if (code_page == 936) return !any(0xe000, 0xf8ff);
  return true;
}

bool decode(std::string_view bytes, const XmlEncoding &encoding, std::wstring &text) {
  bytes.remove_prefix(encoding.bom);
  const bool decoded =
      encoding.form == XmlEncoding::Form::Bytes
          ? widen(bytes, encoding.code_page, text) && defined_in(encoding.code_page, bytes, text)
          : utf16_units(bytes, encoding.form == XmlEncoding::Form::Utf16LE, text);
  // MSXML takes the text as a BSTR, which some builds end at the first
  // zero; no XML document holds one anyway.
  return decoded && !text.empty() && text.find(L'\0') == std::wstring::npos;
}

std::string narrow_utf8(std::wstring_view s) {
  if (s.empty()) return {};
  const int n = static_cast<int>(s.size());
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, s.data(), n, out.data(), size, nullptr, nullptr);
  return out;
}

bool text_of(IXMLDOMNode *node, std::wstring &text) {
  VARIANT v;
  ::VariantInit(&v);
  const bool ok = SUCCEEDED(node->get_nodeValue(&v)) && v.vt == VT_BSTR;
  if (ok) text.assign(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal));
  ::VariantClear(&v);
  return ok;
}

ComPtr<IXMLDOMNode> first_child(IXMLDOMNode *node) {
  ComPtr<IXMLDOMNode> child;
  if (FAILED(node->get_firstChild(child.out()))) child.reset();
  return child;
}

ComPtr<IXMLDOMNode> next_sibling(IXMLDOMNode *node) {
  ComPtr<IXMLDOMNode> next;
  if (FAILED(node->get_nextSibling(next.out()))) next.reset();
  return next;
}

// What an element holds, by the seam's rule.  Its children are walked in
// order and the walk stops as soon as the answer is known.
XmlValue content_of(IXMLDOMNode *element) {
  XmlValue value;
  value.kind = XmlValue::Kind::Empty;
  std::wstring text;
  for (ComPtr<IXMLDOMNode> node = first_child(element); node; node = next_sibling(node.get())) {
    DOMNodeType type;
    if (FAILED(node->get_nodeType(&type))) return {XmlValue::Kind::Invalid, {}};
    const bool textual = type == NODE_TEXT || type == NODE_CDATA_SECTION;
    if (textual && !text_of(node.get(), text)) return {XmlValue::Kind::Invalid, {}};
    if (type == NODE_TEXT && std::all_of(text.begin(), text.end(), is_space)) continue;
    if (value.kind != XmlValue::Kind::Empty || !textual) return {XmlValue::Kind::Invalid, {}};
    value.kind = XmlValue::Kind::Text;
    value.text = narrow_utf8(text);
  }
  return value;
}

// The wanted names in UTF-16, as MSXML gives names.
std::vector<std::wstring> wide_names(const std::vector<std::string_view> &names) {
  std::vector<std::wstring> wide(names.size());
  for (size_t i = 0; i < names.size(); ++i) widen(names[i], CP_UTF8, wide[i], false);
  return wide;
}

// Fills values from the root's children, walked once by next sibling;
// only an element whose name is wanted is looked into.
bool read_children(IXMLDOMElement *root, const std::vector<std::string_view> &names,
                   std::vector<XmlValue> &values) {
  const std::vector<std::wstring> wanted = wide_names(names);
  size_t missing = wanted.size();
  for (ComPtr<IXMLDOMNode> node = first_child(root); node && missing > 0;
       node = next_sibling(node.get())) {
    DOMNodeType type;
    if (FAILED(node->get_nodeType(&type))) return false;
    if (type != NODE_ELEMENT) continue;
    Bstr qualified, local;
    if (FAILED(node->get_nodeName(&qualified.s))) return false;
    // The local name is the qualified one unless a prefix comes first.
    const bool prefixed = qualified.view().find(L':') != std::wstring_view::npos;
    if (prefixed && FAILED(node->get_baseName(&local.s))) return false;
    const std::wstring_view local_name = prefixed ? local.view() : qualified.view();
    std::optional<XmlValue> content;  // read once, for however many names it answers
    for (size_t i = 0; i < wanted.size(); ++i) {
      if (values[i].kind != XmlValue::Kind::Missing) continue;
      if (wanted[i] != qualified.view() && wanted[i] != local_name) continue;
      if (!content) content = content_of(node.get());
      values[i] = *content;
      --missing;
    }
  }
  return true;
}

ComPtr<IXMLDOMDocument2> new_document() {
  ComPtr<IXMLDOMDocument2> doc;
  CLSID clsid;
  if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid)) ||
      FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                reinterpret_cast<void **>(doc.out()))))
    doc.reset();
  if (!doc) return doc;
  doc->put_async(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  // Whitespace-only text is dropped by the seam's rule rather than by
  // MSXML's own, whose handling of white space differs between builds.
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  // The parser itself refuses a document type declaration.  A build that
  // ignores the property is caught by the doctype check after the load.
  Bstr name(L"ProhibitDTD");
  VARIANT on;
  ::VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  doc->setProperty(name.s, on);
  return doc;
}

}  // namespace

// MSXML loads the document whole: the depth is the caller's check alone.
bool read_xml_values(std::string_view bytes, const XmlEncoding &encoding, size_t /*max_depth*/,
                     const std::vector<std::string_view> &names, std::vector<XmlValue> &values) {
  values.assign(names.size(), XmlValue{});
  std::wstring text;
  if (!decode(bytes, encoding, text)) return false;
  drop_declared_encoding(text);

  const ComForThisThread com;
  ComPtr<IXMLDOMDocument2> doc = new_document();
  if (!doc) return false;
  const Bstr source(text);
  if (!source.s) return false;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(doc->loadXML(source.s, &loaded)) || loaded != VARIANT_TRUE) return false;
  ComPtr<IXMLDOMDocumentType> doctype;
  if (FAILED(doc->get_doctype(doctype.out())) || doctype) return false;
  ComPtr<IXMLDOMElement> root;
  if (FAILED(doc->get_documentElement(root.out())) || !root) return false;
  return read_children(root.get(), names, values);
}

}  // namespace qv::platform
