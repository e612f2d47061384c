// Reply documents as the parser sees them: their encodings, the conversion
// of their texts to GBK, and documents that are malformed or hostile.
#include <iconv.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <vector>

#include "xml_document_cases.h"
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

class XmlDocuments : public XmlTest {
 protected:
  // One timed fxNotify exchange whose reply carries body, then another on
  // the same connection: whatever the document, the connection goes on
  // without a relogin.
  qv_bool notify(const Bytes &body, MessageBuffer &message, long &took) {
    server.on(0, Script()
                     .expect(fx::header(10127, 0))
                     .send(fx::reply(fx::kSuccess, body))
                     .expect(fx::header(10127, 0))
                     .send(fx::reply(fx::kSuccess, "<r><notify>next</notify></r>")));
    fx_connect();
    int32_t code = kUnsetCode, length = kUnsetCode;
    if (fxNotify_Req(&code, &length) != 1) return 2;
    qv_bool result = 2;
    took = elapsed_ms([&] { result = fxNotify_Resp(message.get(), code, length); });
    MessageBuffer next;
    EXPECT_EQ(1, fxNotify_Req(&code, &length));
    EXPECT_EQ(1, fxNotify_Resp(next.get(), code, length));
    EXPECT_EQ("next", next.text());
    EXPECT_EQ(1u, server.accepted());
    return result;
  }
};

// ------------------------------------------------------------ the shared table

using documents::DocumentCase;
using documents::Outcome;

class XmlDocument : public XmlDocuments, public ::testing::WithParamInterface<DocumentCase> {};

// Each document as fxNotify_Resp hands it over, a refused one failing at
// once as a parse error.
TEST_P(XmlDocument, ReadAsOnEveryPlatform) {
  const DocumentCase &c = GetParam();
  MessageBuffer message;
  long took = 0;
  const qv_bool result = notify(c.body, message, took);
  EXPECT_LT(took, 1000);
  switch (c.outcome) {
    case Outcome::Text:
      EXPECT_EQ(1, result);
      EXPECT_EQ(c.text, message.text());
      break;
    case Outcome::Untouched:
      EXPECT_EQ(1, result);
      EXPECT_TRUE(message.untouched());
      break;
    case Outcome::Refused:
      EXPECT_EQ(0, result);
      EXPECT_EQ(gbk("解析XML异常失败！"), message.text());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlDocument, ::testing::ValuesIn(documents::document_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// The table's expectations are written out by hand; iconv confirms the
// GBK bytes of the readable texts behind them.
TEST(XmlDocumentTable, GbkBytesAgreeWithIconv) {
  EXPECT_EQ(gbk("朱镕基路"), documents::kZhuRongjiRoadGbk);
  EXPECT_EQ(gbk("中文 ") + "? ? end", documents::kMixedGbk);
  EXPECT_EQ(encode("表情😀与한字", "GB18030"),
            Bytes("\xB1\xED\xC7\xE9\x94\x39\xFC\x36\xD3\xEB\x83\x36\x84\x33\xD7\xD6"));
  EXPECT_EQ(encode("Привет", "CP1251"), Bytes("\xCF\xF0\xE8\xE2\xE5\xF2"));
  EXPECT_EQ(gbk("Привет"), Bytes("\xA7\xB1\xA7\xE2\xA7\xDA\xA7\xD3\xA7\xD6\xA7\xE4"));
  EXPECT_EQ(gbk("é"), Bytes("\xA8\xA6"));
}

// The login's texts go through the same conversion.
TEST_F(XmlDocuments, LoginDescAndPudArriveInGbk) {
  const Bytes doc =
      "\xFF\xFE" +
      encode("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><pud>한 1</pud><desc>欢迎😀</desc></r>",
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

struct HostileCase {
  const char *name;
  std::function<Bytes(const SecretFile &, uint16_t sniffer_port)> body;
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

std::vector<HostileCase> hostile_cases() {
  return {
      {"ExternalEntityFile",
       [](const SecretFile &f, uint16_t) {
         return "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + f.path() +
                "\">]><r><notify>&x;</notify></r>";
       }},
      {"ExternalParameterEntityFile",
       [](const SecretFile &f, uint16_t) {
         return "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + f.path() +
                "\"> %p;]><r><notify>x</notify></r>";
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

// Refused at once as a parse failure: nothing read from a file, nothing
// fetched, and the connection goes on without a relogin.
TEST_P(XmlHostile, FailsQuicklyAsAParseError) {
  SecretFile secret;
  LoopbackServer sniffer;  // any connection to it is a fetch
  MessageBuffer message;
  long took = 0;
  EXPECT_EQ(0, notify(GetParam().body(secret, sniffer.port()), message, took));
  EXPECT_EQ(gbk("解析XML异常失败！"), message.text());
  EXPECT_LT(took, 1000);
  EXPECT_EQ(0u, sniffer.accepted());
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlHostile, ::testing::ValuesIn(hostile_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
