// Reply documents as the parser sees them: their encodings, the conversion
// of their texts to GBK, and documents that are malformed or hostile.
#include <iconv.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <vector>

#include "xml_frames.h"

namespace qvtest {
namespace {

// UTF-8 text in another encoding, by the C library's iconv.
Bytes encode(std::string_view utf8, const char *charset) {
  iconv_t cd = ::iconv_open(charset, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv lacks a charset");
  Bytes in(utf8), out(in.size() * 4 + 8, '\0');
  char *src = in.data(), *dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  const size_t r = ::iconv(cd, &src, &src_left, &dst, &dst_left);
  ::iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("text not convertible");
  out.resize(out.size() - dst_left);
  return out;
}

// A notification document in the given encoding, declared as `declared`
// (no declaration when empty).
Bytes notify_document(std::string_view text_utf8, const char *charset, const Bytes &declared) {
  const Bytes declaration = declared.empty() ? "" : "<?xml version=\"1.0\" encoding=\"" + declared + "\"?>";
  return encode(declaration + "<r><notify>" + Bytes(text_utf8) + "</notify></r>", charset);
}

class XmlDocuments : public XmlTest {
 protected:
  // One fxNotify exchange on a fresh connection, the server answering with
  // `body` under the success code.
  qv_bool notify(const Bytes &body, MessageBuffer &message) {
    server.on(0, Script().expect(fx::header(10127, 0)).send(fx::reply(fx::kSuccess, body)));
    fx_connect();
    int32_t code = kUnsetCode, length = kUnsetCode;
    if (fxNotify_Req(&code, &length) != 1) return 2;
    return fxNotify_Resp(message.get(), code, length);
  }
};

// ------------------------------------------------------------ encodings

struct EncodingCase {
  const char *name;
  Bytes body;
  Bytes expected;  // GBK bytes
};

void PrintTo(const EncodingCase &c, std::ostream *os) { *os << c.name; }

// 镕 is in GBK but not in GB2312; Hangul and emoji are in neither, and each
// such character becomes one "?".
const char *const kChinese = "今日通知：系统维护，朱镕基路";
const char *const kMixed = "中文 한 😀 end";
const Bytes kMixedGbk = gbk("中文 ") + "? ? end";

std::vector<EncodingCase> encoding_cases() {
  return {
      {"Gb2312WithAGbkOnlyCharacter", notify_document(kChinese, "GBK", "gb2312"), gbk(kChinese)},
      {"Gb2312UpperCaseSingleQuoted",
       gbk("<?xml version='1.0' encoding='GB2312'?><r><notify>") + gbk(kChinese) + "</notify></r>", gbk(kChinese)},
      {"Gbk", notify_document(kChinese, "GBK", "GBK"), gbk(kChinese)},
      {"Gb18030", notify_document("表情😀与한字", "GB18030", "GB18030"), gbk("表情") + "?" + gbk("与") + "?" + gbk("字")},
      {"Utf8Declared", notify_document(kMixed, "UTF-8", "UTF-8"), kMixedGbk},
      {"Utf8Undeclared", notify_document(kMixed, "UTF-8", ""), kMixedGbk},
      {"Utf8WithByteOrderMark", "\xEF\xBB\xBF" + notify_document(kMixed, "UTF-8", "utf-8"), kMixedGbk},
      {"Utf16LittleEndian", "\xFF\xFE" + notify_document(kMixed, "UTF-16LE", "UTF-16"), kMixedGbk},
      {"Utf16BigEndian", "\xFE\xFF" + notify_document(kMixed, "UTF-16BE", "UTF-16"), kMixedGbk},
      {"Utf16Undeclared", "\xFF\xFE" + notify_document(kMixed, "UTF-16LE", ""), kMixedGbk},
      {"CharacterReferences", "<r><notify>&#x4E2D;&#x1F600;&#xD55C;&#x1F600;&amp;&lt;&#233;</notify></r>",
       gbk("中") + "???&<" + gbk("é")},
  };
}

class XmlEncoding : public XmlDocuments, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(XmlEncoding, TextArrivesInGbk) {
  MessageBuffer message;
  EXPECT_EQ(1, notify(GetParam().body, message));
  EXPECT_EQ(GetParam().expected, message.text());
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlEncoding, ::testing::ValuesIn(encoding_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// The login's texts go through the same conversion.
TEST_F(XmlDocuments, LoginDescAndPudArriveInGbk) {
  const Bytes doc = "\xFF\xFE" + encode("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><pud>한 1</pud><desc>欢迎😀</desc></r>",
                                        "UTF-16LE");
  server.on(0, fx::expect_login().send(fx::reply(fx::kSuccess, doc)));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  LoginOutputs out;
  EXPECT_EQ(1, login_resp(out, code, length));
  EXPECT_EQ("? 1", out.pud.text());
  EXPECT_EQ(gbk("欢迎") + "?", out.message.text());
}

// ------------------------------------------------------------ malformed and hostile

// A file whose content must never reach a reply.
class SecretFile {
 public:
  SecretFile() {
    char name[] = "/tmp/quorvex-xml-secret-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp");
    ::close(fd);
    path_ = name;
    std::ofstream(path_) << kContent;
  }
  ~SecretFile() { ::unlink(path_.c_str()); }
  const std::string &path() const { return path_; }
  static constexpr const char *kContent = "SECRET-FILE-CONTENT";

 private:
  std::string path_;
};

Bytes billion_laughs() {
  Bytes doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    doc += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) doc += i == 1 ? "&lol;" : "&lol" + std::to_string(i - 1) + ";";
    doc += "\">";
  }
  return doc + "]><r><notify>&lol9;</notify></r>";
}

// One 40 kB entity referenced 40 000 times: 1.6 GB once expanded.
Bytes quadratic_blowup() {
  Bytes doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"" + Bytes(40000, 'a') + "\">]><r><notify>";
  for (int i = 0; i < 40000; ++i) doc += "&a;";
  return doc + "</notify></r>";
}

struct HostileCase {
  const char *name;
  std::function<Bytes(const SecretFile &, uint16_t sniffer_port)> body;
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

std::vector<HostileCase> hostile_cases() {
  auto fixed = [](Bytes b) { return [b](const SecretFile &, uint16_t) { return b; }; };
  Bytes deep = "<r><notify>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  return {
      {"NotXml", fixed("plain text, not a document")},
      {"Unclosed", fixed("<r><notify>x</notify>")},
      {"Mismatched", fixed("<r><notify>x</r></notify>")},
      {"TwoRoots", fixed("<r/><r/>")},
      {"TrailingGarbage", fixed("<r><notify>x</notify></r>junk")},
      {"UndeclaredEntity", fixed("<r><notify>&nbsp;</notify></r>")},
      {"BrokenUtf8", fixed("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><notify>\xC3\x28\xFF</notify></r>")},
      {"UnknownEncoding", fixed("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><r><notify>x</notify></r>")},
      {"ZeroByteInside", fixed(Bytes("<r><notify>a") + '\0' + "b</notify></r>")},
      {"WhitespaceOnly", fixed(" \r\n\t ")},
      {"DeclarationOnly", fixed("<?xml version=\"1.0\"?>")},
      {"DeeplyNested", fixed(deep)},
      {"BillionLaughs", fixed(billion_laughs())},
      {"QuadraticBlowup", fixed(quadratic_blowup())},
      {"DoctypeWithoutEntities", fixed("<!DOCTYPE r><r><notify>x</notify></r>")},
      {"ExternalEntityEtcPasswd",
       fixed("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r><notify>&x;</notify></r>")},
      {"ExternalEntityFile",
       [](const SecretFile &f, uint16_t) {
         return "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + f.path() + "\">]><r><notify>&x;</notify></r>";
       }},
      {"ExternalParameterEntityFile",
       [](const SecretFile &f, uint16_t) {
         return "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + f.path() + "\"> %p;]><r><notify>x</notify></r>";
       }},
      {"ExternalDtdOverTheNetwork",
       [](const SecretFile &, uint16_t port) {
         return "<!DOCTYPE r SYSTEM \"http://127.0.0.1:" + std::to_string(port) +
                "/r.dtd\"><r><notify>x</notify></r>";
       }},
      {"ExternalEntityOverTheNetwork",
       [](const SecretFile &, uint16_t port) {
         return "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:" + std::to_string(port) +
                "/x\">]><r><notify>&x;</notify></r>";
       }},
  };
}

class XmlHostile : public XmlDocuments, public ::testing::WithParamInterface<HostileCase> {};

// Refused at once as a parse failure: nothing fetched, nothing expanded,
// and the connection goes on without a relogin.
TEST_P(XmlHostile, FailsQuicklyAsAParseError) {
  SecretFile secret;
  LoopbackServer sniffer;  // any connection to it is a fetch
  const Bytes body = GetParam().body(secret, sniffer.port());
  server.on(0, Script()
                   .expect(fx::header(10127, 0))
                   .send(fx::reply(fx::kSuccess, body))
                   .expect(fx::header(10127, 0))
                   .send(fx::reply(fx::kSuccess, "<r><notify>next</notify></r>")));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  MessageBuffer message;
  const long took = elapsed_ms([&] { EXPECT_EQ(0, fxNotify_Resp(message.get(), code, length)); });
  EXPECT_EQ(gbk("解析XML异常失败！"), message.text());
  EXPECT_LT(took, 1000);
  EXPECT_EQ(0u, sniffer.accepted());

  MessageBuffer next;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  EXPECT_EQ(1, fxNotify_Resp(next.get(), code, length));
  EXPECT_EQ("next", next.text());
  EXPECT_EQ(1u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlHostile, ::testing::ValuesIn(hostile_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
