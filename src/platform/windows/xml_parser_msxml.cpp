// The XML parser seam on MSXML 3 ("Msxml2.DOMDocument.3.0"), and GBK
// conversion with the system's code page 936.
//
// The body's bytes are decoded here, from its byte-order mark or the
// encoding of its XML declaration, and handed to MSXML as text: MSXML
// builds differ in the encoding labels they know (gb2312 among them),
// and this way every build, and the libxml2 backend, read a document alike.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <string>

#include "platform/xml_parser.h"

namespace qv::platform {
namespace {

template <class T>
struct ComPtr {
  T *p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  T **out() { return &p; }
  T *operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

struct Bstr {
  BSTR s = nullptr;
  ~Bstr() { ::SysFreeString(s); }
};

std::string lower_ascii(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string declared_encoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const std::string_view decl = bytes.substr(0, bytes.find("?>"));
  const size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  const size_t q = decl.find_first_of("\"'", at);
  if (q == std::string_view::npos) return {};
  const size_t close = decl.find(decl[q], q + 1);
  if (close == std::string_view::npos) return {};
  return lower_ascii(std::string(decl.substr(q + 1, close - q - 1)));
}

// Code page of an encoding label; 0 when unknown.
UINT code_page(const std::string &label) {
  if (label.empty() || label == "utf-8" || label == "utf8") return CP_UTF8;
  if (label == "gb2312" || label == "gbk" || label == "cp936" || label == "x-gbk" || label == "windows-936")
    return 936;
  if (label == "gb18030") return 54936;
  if (label == "big5") return 950;
  if (label == "iso-8859-1" || label == "latin1") return 28591;
  if (label == "us-ascii" || label == "ascii") return 20127;
  return 0;
}

// Invalid byte sequences fail when strict; otherwise they become U+FFFD.
bool widen(std::string_view bytes, UINT cp, std::wstring &out, bool strict = true) {
  if (bytes.empty()) return true;
  const DWORD flags = strict && (cp == CP_UTF8 || cp == 54936) ? MB_ERR_INVALID_CHARS : 0;
  const int n = ::MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n) == n;
}

bool decode(std::string_view bytes, std::wstring &text) {
  const auto b = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
  bool le = false, be = false;
  size_t skip = 0;
  if (b(0) == 0xff && b(1) == 0xfe) le = true, skip = 2;
  else if (b(0) == 0xfe && b(1) == 0xff) be = true, skip = 2;
  else if (b(0) == '<' && b(1) == 0) le = true;
  else if (b(0) == 0 && b(1) == '<') be = true;
  if (le || be) {
    const size_t units = (bytes.size() - skip) / 2;
    text.resize(units);
    for (size_t i = 0; i < units; ++i) {
      const unsigned char x = static_cast<unsigned char>(bytes[skip + 2 * i]);
      const unsigned char y = static_cast<unsigned char>(bytes[skip + 2 * i + 1]);
      text[i] = static_cast<wchar_t>(le ? (x | y << 8) : (y | x << 8));
    }
    return true;
  }
  if (b(0) == 0xef && b(1) == 0xbb && b(2) == 0xbf) return widen(bytes.substr(3), CP_UTF8, text);
  const UINT cp = code_page(declared_encoding(bytes));
  return cp != 0 && widen(bytes, cp, text);
}

std::string narrow_utf8(const wchar_t *s, int n) {
  if (!s || n <= 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, s, n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), size, nullptr, nullptr);
  return out;
}

std::string bstr_utf8(BSTR s) { return narrow_utf8(s, s ? static_cast<int>(::SysStringLen(s)) : 0); }

XmlNode::Kind kind_of(DOMNodeType t) {
  switch (t) {
    case NODE_ELEMENT: return XmlNode::Kind::Element;
    case NODE_TEXT: return XmlNode::Kind::Text;
    case NODE_CDATA_SECTION: return XmlNode::Kind::CData;
    default: return XmlNode::Kind::Other;
  }
}

bool convert(IXMLDOMNode *node, int levels, XmlNode &out) {
  DOMNodeType type;
  if (FAILED(node->get_nodeType(&type))) return false;
  out.kind = kind_of(type);
  if (out.kind == XmlNode::Kind::Element) {
    Bstr name, base;
    node->get_nodeName(&name.s);
    node->get_baseName(&base.s);
    out.name = bstr_utf8(name.s);
    out.local_name = bstr_utf8(base.s);
  } else if (out.kind == XmlNode::Kind::Text || out.kind == XmlNode::Kind::CData) {
    VARIANT v;
    ::VariantInit(&v);
    if (SUCCEEDED(node->get_nodeValue(&v)) && v.vt == VT_BSTR) out.text = bstr_utf8(v.bstrVal);
    ::VariantClear(&v);
  }
  if (levels <= 0) return true;
  ComPtr<IXMLDOMNodeList> children;
  if (FAILED(node->get_childNodes(children.out())) || !children) return true;
  long count = 0;
  children->get_length(&count);
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> child;
    if (FAILED(children->get_item(i, child.out())) || !child) return false;
    out.children.emplace_back();
    if (!convert(child.p, levels - 1, out.children.back())) return false;
  }
  return true;
}

}  // namespace

bool parse_xml(std::string_view bytes, int levels, XmlNode &root) {
  std::wstring text;
  if (bytes.empty() || !decode(bytes, text)) return false;
  // The declaration has done its work; MSXML reads the text as it is.
  if (text.compare(0, 5, L"<?xml") == 0) {
    const size_t end = text.find(L"?>");
    if (end == std::wstring::npos) return false;
    text.erase(0, end + 2);
  }
  // No document type declarations: no DTD, no entities, no bombs.
  if (text.find(L"<!DOCTYPE") != std::wstring::npos) return false;

  CLSID clsid;
  if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) return false;
  ComPtr<IXMLDOMDocument> doc;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                reinterpret_cast<void **>(doc.out()))) ||
      !doc)
    return false;
  doc->put_async(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_preserveWhiteSpace(VARIANT_FALSE);

  Bstr source;
  source.s = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!source.s) return false;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(doc->loadXML(source.s, &loaded)) || loaded != VARIANT_TRUE) return false;
  ComPtr<IXMLDOMElement> element;
  if (FAILED(doc->get_documentElement(element.out())) || !element) return false;
  root = XmlNode{};
  return convert(element.p, levels, root);
}

std::string utf8_to_gbk(std::string_view utf8) {
  std::wstring wide;
  widen(utf8, CP_UTF8, wide, false);
  std::string out;
  out.reserve(utf8.size());
  // One code point at a time, so that a character GBK lacks, surrogate
  // pair or not, becomes exactly one "?" and nothing is best-fitted.
  for (size_t i = 0; i < wide.size();) {
    const size_t n = (wide[i] >= 0xd800 && wide[i] < 0xdc00 && i + 1 < wide.size()) ? 2 : 1;
    char buf[8];
    BOOL used = FALSE;
    const int k = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide[i], static_cast<int>(n), buf,
                                        sizeof buf, "?", &used);
    if (k <= 0 || used) out.push_back('?');
    else out.append(buf, static_cast<size_t>(k));
    i += n;
  }
  return out;
}

}  // namespace qv::platform
