// Inputs that the fuzz targets (fuzz/) found to break the library, each
// replayed through the exports against the loopback server, with what the
// library must do instead.
#include <vector>

#include "quorvex_fixture.h"

namespace qvtest {
namespace {

// A reply of the XML protocol: Code, PartNo, PartCount, Length, then the body.
Bytes fx_reply(int32_t code, const Bytes &body) {
  return rec::le32(code) + rec::le32(1) + rec::le32(1) +
         rec::le32(static_cast<int32_t>(body.size())) + body;
}

// A buffer of exactly the reply length plus one byte, as the interface tells
// a host to size it, followed by a guard zone.
class ReplySizedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  explicit ReplySizedBuffer(int32_t reply_length)
      : size_(static_cast<size_t>(reply_length) + 1), bytes_(size_ + kGuard, 'Z') {}
  char *get() { return bytes_.data(); }
  Bytes text() const { return Bytes(bytes_.data(), strnlen(bytes_.data(), size_)); }
  bool terminated() const { return strnlen(bytes_.data(), size_) < size_; }
  bool guard_intact() const {
    for (size_t i = size_; i < bytes_.size(); ++i)
      if (bytes_[i] != 'Z') return false;
    return true;
  }

 private:
  size_t size_;
  std::vector<char> bytes_;
};

// Whether a GBK text ends on a whole character.
bool ends_on_a_character(const Bytes &text) {
  size_t i = 0;
  while (i < text.size()) i += static_cast<unsigned char>(text[i]) >= 0x81 ? 2 : 1;
  return i == text.size();
}

class Regressions : public QuorvexTest {
 protected:
  void fx_connect() {
    MessageBuffer message;
    ASSERT_EQ(1, fxTcpConnect(message.get(), "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  }
};

// Texts of a document in a single-byte encoding can take two bytes a
// character in GBK, so a value could outgrow the reply that carried it and
// overrun a buffer of the reply length plus one.  Found by xml_document with
// a document in the "lmbcs6" encoding; ISO-8859-1 shows it plainly: "é" is
// one byte there and two in GBK.  The value is now cut to the reply length,
// at a character, and the outcome's Detail says so.
const Bytes kLatin1Prefix = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><notify>";

TEST_F(Regressions, XmlQueryValueFitsABufferOfTheReplyLength) {
  const Bytes body = kLatin1Prefix + Bytes(300, '\xE9') + "</notify></r>";
  server.on(0, Script().expect(16).send(fx_reply(QV_FX_SUCCESS, body)));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  ASSERT_EQ(static_cast<int32_t>(body.size()), length);

  ReplySizedBuffer message(length);
  EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
  EXPECT_TRUE(message.guard_intact());
  ASSERT_TRUE(message.terminated());
  // As many whole "é" as the reply length holds.
  Bytes expected;
  while (expected.size() + 2 <= body.size()) expected += gbk("é");
  EXPECT_EQ(expected, message.text());
  // Not silently: the outcome stays a success and its Detail says what was cut.
  int32_t kind = -1;
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  ASSERT_EQ(1, GetLastOutcome(&kind, nullptr, nullptr, nullptr, detail, sizeof detail));
  EXPECT_EQ(QV_OUTCOME_OK, kind);
  EXPECT_EQ("The reply's notify text was cut from 600 to " + std::to_string(expected.size()) +
                " bytes to fit a buffer of the reply's length.",
            std::string(detail));
}

// The login reply's desc and pud: the input the fuzzer found (desc, in
// "lmbcs6"), then a pud of 200 "é" in ISO-8859-1.
TEST_F(Regressions, XmlLoginValuesFitBuffersOfTheReplyLength) {
  const Bytes found =
      "<?xml version=\"1.0\" encoding=\"lmbcs6\"?><r>pud>XXXXXXibm943XXXX<desc>\xBB" +
      Bytes(114, '\xE4') + "\xB6\xD3\xAD\xB5\xC7\xC2\xBC</desc></r>";
  const Bytes latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><pud>" +
                       Bytes(200, '\xE9') + "</pud><desc>d</desc></r>";
  const Bytes bodies[] = {found, latin1};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    server.on(i, Script().expect_until("</login>").send(fx_reply(QV_FX_SUCCESS, bodies[i])));
    fx_connect();
    int32_t code = kUnsetCode, length = kUnsetCode;
    ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
    ASSERT_EQ(static_cast<int32_t>(bodies[i].size()), length);

    ReplySizedBuffer message(length), pud(length);
    int32_t agent = kUnsetCode, agreement = kUnsetCode;
    // An encoding outside the reply set ("lmbcs6") is refused as a
    // malformed document; its message fits the buffer all the same.
    EXPECT_EQ(i == 0 ? 0 : 1,
              fxLogin_Resp(message.get(), &agent, pud.get(), &agreement, code, length));
    EXPECT_TRUE(message.guard_intact());
    EXPECT_TRUE(pud.guard_intact());
    ASSERT_TRUE(message.terminated());
    EXPECT_TRUE(ends_on_a_character(message.text()));
    if (i == 0) {
      EXPECT_EQ(gbk("解析登录信息异常失败！"), message.text());
    }
    if (i == 1) {
      EXPECT_EQ("d", message.text());
      ASSERT_TRUE(pud.terminated());
      EXPECT_EQ(size_t(length) / 2 * 2, pud.text().size());
      EXPECT_EQ(0u, pud.text().find(gbk("ééé")));
    }
    fxTcpDisconnect();
  }
}

}  // namespace
}  // namespace qvtest
