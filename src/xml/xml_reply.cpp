#include "xml/xml_reply.h"

#include <array>
#include <cstdint>
#include <string>

namespace qv::xml {
namespace {

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// The encoding named in a single-byte XML declaration; empty when there is
// no declaration or it names none.
std::string declared_encoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const std::string_view decl = bytes.substr(0, bytes.find("?>"));
  const size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  const size_t q = decl.find_first_of("\"'", at);
  if (q == std::string_view::npos) return {};
  const size_t close = decl.find(decl[q], q + 1);
  if (close == std::string_view::npos) return {};
  return lower_ascii(decl.substr(q + 1, close - q - 1));
}

struct Label {
  std::string_view label;
  std::string_view iconv_name;
  unsigned code_page;
};

// gb2312 is read as GBK, its superset, as Windows does: a server that
// declares gb2312 still sends the odd GBK-only character.
constexpr Label kLabels[] = {
    {"utf-8", "UTF-8", 65001},
    {"utf8", "UTF-8", 65001},
    {"gbk", "GBK", 936},
    {"gb2312", "GBK", 936},
    {"cp936", "GBK", 936},
    {"x-gbk", "GBK", 936},
    {"windows-936", "GBK", 936},
    {"gb18030", "GB18030", 54936},
    {"iso-8859-1", "ISO-8859-1", 28591},
    {"latin1", "ISO-8859-1", 28591},
    {"iso_8859-1", "ISO-8859-1", 28591},
    {"us-ascii", "ASCII", 20127},
    {"ascii", "ASCII", 20127},
    {"windows-1250", "CP1250", 1250},
    {"windows-1251", "CP1251", 1251},
    {"windows-1252", "CP1252", 1252},
    {"windows-1253", "CP1253", 1253},
    {"windows-1254", "CP1254", 1254},
    {"windows-1255", "CP1255", 1255},
    {"windows-1256", "CP1256", 1256},
    {"windows-1257", "CP1257", 1257},
    {"windows-1258", "CP1258", 1258},
    {"cp1250", "CP1250", 1250},
    {"cp1251", "CP1251", 1251},
    {"cp1252", "CP1252", 1252},
    {"cp1253", "CP1253", 1253},
    {"cp1254", "CP1254", 1254},
    {"cp1255", "CP1255", 1255},
    {"cp1256", "CP1256", 1256},
    {"cp1257", "CP1257", 1257},
    {"cp1258", "CP1258", 1258},
};

// The markup scanner reads code units: bytes, or 16-bit units of UTF-16.
// Every character it looks for is ASCII, and in every accepted single-byte
// or multi-byte encoding an ASCII byte stands only for itself (GBK's and
// GB18030's trailing bytes start at 0x30 and never take the values of
// < > = " ' ! ? / - [ ]).
class Units {
 public:
  Units(std::string_view bytes, const ReplyEncoding &e)
      : bytes_(bytes.substr(e.bom)),
        wide_(e.form != ReplyEncoding::Form::Bytes),
        little_(e.form == ReplyEncoding::Form::Utf16LE) {}
  size_t size() const { return wide_ ? bytes_.size() / 2 : bytes_.size(); }
  uint32_t operator[](size_t i) const {
    if (!wide_) return static_cast<unsigned char>(bytes_[i]);
    const auto a = static_cast<unsigned char>(bytes_[2 * i]),
               b = static_cast<unsigned char>(bytes_[2 * i + 1]);
    return little_ ? (a | b << 8) : (b | a << 8);
  }
  bool starts(size_t i, std::string_view s) const {
    if (i + s.size() > size()) return false;
    for (size_t k = 0; k < s.size(); ++k)
      if ((*this)[i + k] != static_cast<unsigned char>(s[k])) return false;
    return true;
  }
  // The first position at or after i where s starts; size() when none.
  size_t find(size_t i, std::string_view s) const {
    for (; i < size(); ++i)
      if (starts(i, s)) return i;
    return size();
  }

 private:
  std::string_view bytes_;
  bool wide_, little_;
};

bool is_space(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// "xmlns" or "xmlns:prefix": an attribute that declares a namespace.
bool declares_namespace(const Units &u, size_t start, size_t end) {
  return u.starts(start, "xmlns") && (end - start == 5 || u[start + 5] == ':');
}
bool ends_name(uint32_t c) { return is_space(c) || c == '/' || c == '>' || c == '='; }

}  // namespace

std::optional<ReplyEncoding> reply_encoding(std::string_view bytes) {
  const auto b = [&](size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u;
  };
  ReplyEncoding e;
  if (b(0) == 0xff && b(1) == 0xfe) {
    e.form = ReplyEncoding::Form::Utf16LE, e.bom = 2;
    return e;
  }
  if (b(0) == 0xfe && b(1) == 0xff) {
    e.form = ReplyEncoding::Form::Utf16BE, e.bom = 2;
    return e;
  }
  if (b(0) == '<' && b(1) == 0) {
    e.form = ReplyEncoding::Form::Utf16LE;
    return e;
  }
  if (b(0) == 0 && b(1) == '<') {
    e.form = ReplyEncoding::Form::Utf16BE;
    return e;
  }
  e.iconv_name = "UTF-8", e.code_page = 65001;
  if (b(0) == 0xef && b(1) == 0xbb && b(2) == 0xbf) {
    e.bom = 3;
    const std::string declared = declared_encoding(bytes.substr(3));
    if (declared.empty() || declared == "utf-8" || declared == "utf8") return e;
    return std::nullopt;  // a UTF-8 mark and another encoding named
  }
  const std::string declared = declared_encoding(bytes);
  if (declared.empty()) return e;
  for (const Label &l : kLabels)
    if (l.label == declared) {
      e.iconv_name = l.iconv_name, e.code_page = l.code_page;
      return e;
    }
  return std::nullopt;
}

bool within_reply_limits(std::string_view bytes, const ReplyEncoding &encoding) {
  const Units u(bytes, encoding);
  const size_t n = u.size();
  size_t depth = 0;
  // Declarations made by each open element, and their sum.
  std::array<size_t, kMaxReplyDepth + 1> declared{};
  size_t in_scope = 0;
  size_t i = 0;
  while (i < n) {
    if (u[i] != '<') {
      ++i;
      continue;
    }
    if (u.starts(i, "<!--")) {
      i = u.find(i + 4, "-->") + 3;
      continue;
    }
    if (u.starts(i, "<![CDATA[")) {
      i = u.find(i + 9, "]]>") + 3;
      continue;
    }
    if (u.starts(i, "<?")) {
      i = u.find(i + 2, "?>") + 2;
      continue;
    }
    if (u.starts(i, "<!")) return false;  // a document type declaration
    const bool end_tag = u.starts(i, "</");
    i += end_tag ? 2 : 1;
    const size_t name_start = i;
    while (i < n && !ends_name(u[i])) ++i;
    if (i - name_start > kMaxReplyNameLength) return false;
    if (end_tag) {
      if (depth > 0) in_scope -= declared[depth--];
      i = u.find(i, ">") + 1;
      continue;
    }
    if (++depth > kMaxReplyDepth) return false;
    declared[depth] = 0;
    // Attributes: name = "value", up to ">" or "/>".
    size_t attributes = 0;
    for (;;) {
      while (i < n && is_space(u[i])) ++i;
      if (i >= n) return true;  // cut short: the parser refuses it
      if (u[i] == '>') {
        ++i;
        break;
      }
      if (u.starts(i, "/>")) {
        i += 2;
        in_scope -= declared[depth--];
        break;
      }
      const size_t attribute_start = i;
      while (i < n && !ends_name(u[i])) ++i;
      if (i == attribute_start) return true;  // malformed: the parser stops here
      if (i - attribute_start > kMaxReplyNameLength || ++attributes > kMaxReplyAttributes)
        return false;
      if (declares_namespace(u, attribute_start, i)) {
        ++declared[depth];
        if (++in_scope > kMaxReplyNamespaces) return false;
      }
      while (i < n && is_space(u[i])) ++i;
      if (i >= n || u[i] != '=') return true;
      ++i;
      while (i < n && is_space(u[i])) ++i;
      if (i >= n || (u[i] != '"' && u[i] != '\'')) return true;
      const uint32_t quote = u[i];
      for (++i; i < n && u[i] != quote;) ++i;
      ++i;
    }
  }
  return true;
}

}  // namespace qv::xml
