// What a reply document may cost.  Documents up to the body limit in every
// shape that makes parsers slow or large (many elements, many attributes,
// long texts, deep nesting, long names) are read in time in proportion to
// their size or refused at once by the limits; a declared encoding outside
// the reply set is refused; and nothing reaches the host's stderr.
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "xml_frames.h"

namespace qvtest {
namespace {

// Repeats piece until the document would pass the body limit.
Bytes filled(const Bytes &head, const Bytes &piece, const Bytes &tail) {
  Bytes doc = head;
  const size_t room = QV_FX_REPLY_MAX - head.size() - tail.size();
  doc.reserve(QV_FX_REPLY_MAX);
  while (doc.size() - head.size() + piece.size() <= room) doc += piece;
  return doc + tail;
}

Bytes attributes(size_t n) {
  Bytes a;
  for (size_t i = 0; i < n; ++i) a += " a" + std::to_string(i) + "=\"v\"";
  return a;
}

Bytes nested(size_t depth) {  // the root and depth - 1 elements below it
  Bytes open, close;
  for (size_t i = 1; i < depth; ++i) open += "<d>", close += "</d>";
  return "<r><notify>ok</notify>" + open + close + "</r>";
}

// n namespace declarations in scope, 16 on the root and 16 on each element
// nested below it, around a MiB of elements in the first one's namespace;
// the value, in that namespace too, is the root's first child.
Bytes namespaces(size_t n) {
  const auto declare = [n](size_t from) {
    Bytes d;
    for (size_t i = from; i < std::min(n, from + 16); ++i)
      d += " xmlns:p" + std::to_string(i) + "=\"u" + std::to_string(i) + "\"";
    return d;
  };
  Bytes open = "<r" + declare(0) + "><p0:notify>ok</p0:notify>", close = "</r>";
  for (size_t from = 16; from < n; from += 16)
    open += "<e" + declare(from) + ">", close = "</e>" + close;
  return filled(open, "<p0:a/>", close);
}

Bytes declared(const char *encoding) {
  return "<?xml version=\"1.0\" encoding=\"" + Bytes(encoding) +
         "\"?><r><notify>ok\xE9</notify></r>";
}

struct CostCase {
  const char *name;
  Bytes body;
  Bytes expected;  // GBK text; empty: refused as malformed
};

void PrintTo(const CostCase &c, std::ostream *os) { *os << c.name; }

std::vector<CostCase> cost_cases() {
  const Bytes name256(256, 'n'), name257(257, 'n');
  const Bytes long_text = filled("<r><notify>", "x", "</notify></r>");
  return {
      {"ManySmallElementsBeforeTheValue", filled("<r>", "<a/>", "<notify>found</notify></r>"),
       "found"},
      {"ManyElementsInsideTheValue", filled("<r><notify>", "<a/>", "</notify></r>"), ""},
      {"OneLongText", long_text, Bytes(long_text.size() - 24, 'x')},
      {"ManyCommentsAndInstructions", filled("<r>", "<!-- c --><?p i?>", "<notify>ok</notify></r>"),
       "ok"},
      {"AttributesAtTheLimit", "<r" + attributes(QV_FX_ATTRIBUTES_MAX) + "><notify>ok</notify></r>",
       "ok"},
      {"AttributesPastTheLimit",
       "<r><notify" + attributes(QV_FX_ATTRIBUTES_MAX + 1) + ">ok</notify></r>", ""},
      {"AMiBOfAttributes", filled("<r><a", " b=\"\"", "/><notify>ok</notify></r>"), ""},
      {"DepthAtTheLimit", nested(QV_FX_DEPTH_MAX), "ok"},
      {"DepthPastTheLimit", nested(QV_FX_DEPTH_MAX + 1), ""},
      {"AMiBOfNesting", filled("<r><notify>ok</notify>", "<d>", "</r>"), ""},
      {"NamespacesAtTheLimit", namespaces(QV_FX_NAMESPACES_MAX), "ok"},
      {"NamespacesPastTheLimit", namespaces(QV_FX_NAMESPACES_MAX + 1), ""},
      {"NamespacesOutOfScopeDoNotCount",
       filled("<r xmlns=\"d\">", "<a xmlns:a=\"a\"/>", "<notify xmlns:n=\"n\">ok</notify></r>"),
       "ok"},
      {"NameAtTheLimit", "<r><" + name256 + "/><notify>ok</notify></r>", "ok"},
      {"NamePastTheLimit", "<r><" + name257 + "/><notify>ok</notify></r>", ""},
      {"DoctypeInACommentIsNoDoctype",
       "<r><!-- <!DOCTYPE r> --><notify><![CDATA[<!DOCTYPE]]></notify></r>", "<!DOCTYPE"},
      {"Latin1", declared("latin1"), "ok" + gbk("é")},
      {"Windows1252", declared("windows-1252"), "ok" + gbk("é")},
      {"Cp936",
       "<?xml version=\"1.0\" encoding=\"cp936\"?><r><notify>" + gbk("通知") + "</notify></r>",
       gbk("通知")},
      {"UsAscii", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><r><notify>ok</notify></r>", "ok"},
      {"Lmbcs6", declared("lmbcs6"), ""},
      {"Ibm943", declared("ibm943"), ""},
      {"Big5", declared("big5"), ""},
      {"Utf7", declared("utf-7"), ""},
      {"Utf16DeclaredInSingleBytes", declared("UTF-16"), ""},
      {"Utf8MarkWithAnotherEncoding", "\xEF\xBB\xBF" + declared("gbk"), ""},
  };
}

class XmlCost : public XmlTest, public ::testing::WithParamInterface<CostCase> {};

TEST_P(XmlCost, IsReadInTimeOrRefusedAtOnceAndPrintsNothing) {
  const CostCase &c = GetParam();
  ASSERT_LE(c.body.size(), static_cast<size_t>(QV_FX_REPLY_MAX));
  server.on(0, Script().expect(fx::header(10127, 0)).send(fx::reply(fx::kSuccess, c.body)));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  std::vector<char> message(static_cast<size_t>(length) + 1, 'Z');

  // Whatever the parser has to say goes nowhere near the host's stderr.
  FILE *captured = ::tmpfile();
  ASSERT_NE(nullptr, captured);
  ::fflush(stderr);
  const int saved = ::dup(2);
  ::dup2(::fileno(captured), 2);
  qv_bool result = 2;
  const long took = elapsed_ms([&] { result = fxNotify_Resp(message.data(), code, length); });
  ::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  const long printed = (::fseek(captured, 0, SEEK_END), ::ftell(captured));
  ::fclose(captured);

  EXPECT_EQ(0, printed) << "bytes written to stderr";
  EXPECT_LT(took, 1000);
  if (c.expected.empty()) {
    EXPECT_EQ(0, result);
    EXPECT_EQ(gbk("解析XML异常失败！"), Bytes(message.data()));
  } else {
    EXPECT_EQ(1, result);
    EXPECT_EQ(c.expected, Bytes(message.data()));
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlCost, ::testing::ValuesIn(cost_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
