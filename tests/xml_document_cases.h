// Reply documents that every XML backend must read alike, each with what
// fxNotify_Resp makes of it.  The Linux tests and the cross-built Windows
// suite both run this table, so that the two platforms cannot drift apart.
// Bytes are written out (no converter is needed to build the table): GBK
// and the other code pages in hex escapes with their readable form beside
// them, UTF-16 from u"" literals.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest::documents {

enum class Outcome {
  Text,       // result 1, the message holds text (GBK)
  Untouched,  // result 1, the message is left as it was: no value
  Refused,    // result 0, the parse-failure message
};

struct DocumentCase {
  const char *name;
  std::string body;
  Outcome outcome;
  std::string text = {};  // for Outcome::Text
  bool gb18030 = false;   // needs the system's GB18030 converter
};

inline void PrintTo(const DocumentCase &c, std::ostream *os) { *os << c.name; }

// UTF-16 bytes of a text, with or without a byte-order mark.
inline std::string utf16(std::u16string_view text, bool little_endian, bool mark) {
  std::string out;
  auto put = [&](char16_t u) {
    const char lo = static_cast<char>(u & 0xff), hi = static_cast<char>(u >> 8);
    out += little_endian ? std::string{lo, hi} : std::string{hi, lo};
  };
  if (mark) put(u'\xFEFF');
  for (char16_t u : text) put(u);
  return out;
}

inline std::string notify(std::string_view content) {
  return "<r><notify>" + std::string(content) + "</notify></r>";
}
inline std::string declared(std::string_view encoding, std::string_view content) {
  return "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?>" + notify(content);
}
inline std::string repeated(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// An element with n attributes, and n elements nested inside the root.
inline std::string attributes(size_t n) {
  std::string e = "<r><notify";
  for (size_t i = 0; i < n; ++i) e += " a" + std::to_string(i) + "=\"v\"";
  return e + ">ok</notify></r>";
}
inline std::string nested(size_t n) {
  return "<r><notify>ok</notify>" + repeated("<a>", n) + repeated("</a>", n) + "</r>";
}

inline std::string billion_laughs() {
  std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "lol" + std::to_string(i),
                      previous = i == 1 ? "lol" : "lol" + std::to_string(i - 1);
    doc.append("<!ENTITY ")
        .append(name)
        .append(" \"")
        .append(repeated("&" + previous + ";", 10))
        .append("\">");
  }
  return doc + "]>" + notify("&lol9;");
}

// GBK: 中文 d6d0 cec4, 朱镕基路 d6ec e946 bbf9 c2b7 (镕 is outside GB2312),
// é a8a6, Привет a7b1 a7e2 a7da a7d3 a7d6 a7e4.
inline const std::string kZhuRongjiRoadGbk = "\xD6\xEC\xE9\x46\xBB\xF9\xC2\xB7";
inline const std::string kMixedGbk =
    "\xD6\xD0\xCE\xC4 ? ? end";  // 中文 한 😀 end: one "?" per character GBK lacks
inline const std::u16string kMixedXml = u"<r><notify>中文 한 😀 end</notify></r>";

inline std::vector<DocumentCase> document_cases() {
  using O = Outcome;
  return {
      // Encodings: byte-order mark, declaration, or UTF-8.
      {"Gb2312WithAGbkOnlyCharacter", declared("gb2312", kZhuRongjiRoadGbk), O::Text,
       kZhuRongjiRoadGbk},
      {"GbkUpperCaseSingleQuoted",
       "<?xml version='1.0' encoding='GBK'?>" + notify(kZhuRongjiRoadGbk), O::Text,
       kZhuRongjiRoadGbk},
      // 表情😀与한字 in GB18030: b1ed c7e9 9439fc36 d3eb 83368433 d7d6
      {"Gb18030",
       declared("GB18030", "\xB1\xED\xC7\xE9\x94\x39\xFC\x36\xD3\xEB\x83\x36\x84\x33\xD7\xD6"),
       O::Text, "\xB1\xED\xC7\xE9?\xD3\xEB?\xD7\xD6", true},
      {"Utf8Undeclared", notify("中文 한 😀 end"), O::Text, kMixedGbk},
      {"Utf8WithByteOrderMark", "\xEF\xBB\xBF" + declared("utf-8", "中文 한 😀 end"), O::Text,
       kMixedGbk},
      {"Utf16LittleEndian",
       utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + kMixedXml, true, true), O::Text,
       kMixedGbk},
      {"Utf16BigEndian",
       utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + kMixedXml, false, true), O::Text,
       kMixedGbk},
      {"Utf16WithoutMark", utf16(kMixedXml, true, false), O::Text, kMixedGbk},
      {"Latin1", declared("ISO-8859-1", "\xE9"), O::Text, "\xA8\xA6"},
      {"Windows1251", declared("windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2"), O::Text,
       "\xA7\xB1\xA7\xE2\xA7\xDA\xA7\xD3\xA7\xD6\xA7\xE4"},
      {"CharacterReferences", notify("&#x4E2D;&#x1F600;&#xD55C;&amp;&lt;&#233;"), O::Text,
       "\xD6\xD0??&<\xA8\xA6"},
      // Bytes an encoding does not define, and encodings outside the set.
      {"BrokenUtf8", declared("UTF-8", "\xC3\x28\xFF"), O::Refused},
      {"Utf8EncodedSurrogate", notify("\xED\xA0\x80"), O::Refused},
      {"Utf16LoneSurrogate", utf16(u"<r><notify>\xD800</notify></r>", true, true), O::Refused},
      {"UsAsciiHighByte", declared("us-ascii", "\xE9"), O::Refused},
      {"Windows1252UndefinedByte", declared("windows-1252", "\x81"), O::Refused},
      {"GbkUserDefinedArea", declared("gbk", "\xAA\xA1"), O::Refused},
      {"UnknownEncoding", declared("x-no-such-charset", "x"), O::Refused},
      {"Utf16DeclaredInSingleBytes", declared("UTF-16", "x"), O::Refused},
      // Which child counts, and what it holds.
      {"TextKeepsItsSpaces", "<r>\n  <notify> a  b </notify>\n</r>", O::Text, " a  b "},
      {"WhitespaceOnlyIsNoValue", notify(" \r\n\t "), O::Untouched},
      {"EmptyElement", "<r><notify/></r>", O::Untouched},
      {"MissingElement", "<r><other>x</other></r>", O::Untouched},
      {"Cdata", notify("<![CDATA[<x>&]]>"), O::Text, "<x>&"},
      {"CdataBetweenWhitespace", notify("\n  <![CDATA[a]]>\n"), O::Text, "a"},
      {"WhitespaceCdataCounts", notify("<![CDATA[ ]]>"), O::Text, " "},
      {"EntitiesJoinTheText", notify("a&amp;b&#x4E2D;"), O::Text, "a&b\xD6\xD0"},
      {"FirstOfTwo", "<r><notify>one</notify><notify>two</notify></r>", O::Text, "one"},
      {"PrefixedName", "<r xmlns:p=\"urn:q\"><p:notify>p</p:notify></r>", O::Text, "p"},
      {"OnlyDirectChildren", "<r><a><notify>deep</notify></a></r>", O::Untouched},
      {"TheRootIsNoChild", "<notify>x</notify>", O::Untouched},
      {"OtherChildrenAreNotLookedInto", "<r><other>a<b/><!--c--></other><notify>ok</notify></r>",
       O::Text, "ok"},
      {"TextAndCdata", notify("a<![CDATA[b]]>"), O::Refused},
      {"Comment", notify("<!--c-->"), O::Refused},
      {"TextAroundAComment", notify("a<!--c-->b"), O::Refused},
      {"Element", notify("<b>x</b>"), O::Refused},
      {"ProcessingInstruction", notify("<?p x?>"), O::Refused},
      {"DoctypeTextInCommentAndCdata", "<!-- <!DOCTYPE r> -->" + notify("<![CDATA[<!DOCTYPE x>]]>"),
       O::Text, "<!DOCTYPE x>"},
      // Malformed.
      {"NotXml", "plain text, not a document", O::Refused},
      {"Unclosed", "<r><notify>x</notify>", O::Refused},
      {"Mismatched", "<r><notify>x</r></notify>", O::Refused},
      {"TwoRoots", "<r/><r/>", O::Refused},
      {"TrailingGarbage", notify("x") + "junk", O::Refused},
      {"UndeclaredEntity", notify("&nbsp;"), O::Refused},
      {"ZeroByteInside", notify(std::string("a\0b", 3)), O::Refused},
      {"ZeroByteAfterTheRoot", notify("x") + std::string(1, '\0'), O::Refused},
      {"WhitespaceOnlyBody", " \r\n\t ", O::Refused},
      {"DeclarationOnly", "<?xml version=\"1.0\"?>", O::Refused},
      {"DeclarationNotAtTheStart", " <?xml version=\"1.0\"?>" + notify("x"), O::Refused},
      {"DeclarationWithoutVersion", "<?xml encoding=\"UTF-8\"?>" + notify("x"), O::Refused},
      // Document type declarations and the markup limits.
      {"DoctypeWithoutEntities", "<!DOCTYPE r>" + notify("x"), O::Refused},
      {"BillionLaughs", billion_laughs(), O::Refused},
      {"ExternalEntity",
       "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
           notify("&x;"),
       O::Refused},
      {"AttributesAtTheLimit", attributes(32), O::Text, "ok"},
      {"AttributesBeyondTheLimit", attributes(33), O::Refused},
      {"NestingAtTheLimit", nested(63), O::Text, "ok"},  // the root and 63 more
      {"NestingBeyondTheLimit", nested(64), O::Refused},
      {"DeepNesting", notify(repeated("<a>", 100000)), O::Refused},
      {"NameAtTheLimit", "<r><notify>ok</notify><" + std::string(256, 'n') + "/></r>", O::Text,
       "ok"},
      {"NameBeyondTheLimit", "<r><notify>ok</notify><" + std::string(257, 'n') + "/></r>",
       O::Refused},
  };
}

}  // namespace qvtest::documents
