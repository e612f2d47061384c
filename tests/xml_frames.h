// Messages of the XML protocol built and read byte by byte, and the fixture
// of its tests.  Like record_bytes.h, these helpers share nothing with the
// library: offsets, codes and texts are written from the protocol's
// description, so a wrong byte in the library shows up as a mismatch.
//
//   FxHeader: Code, PartNo, PartCount, Length; little-endian int32s.
//   A message is the 16 header bytes and exactly Length body bytes.
#pragma once

#include <optional>
#include <string>

#include "quorvex_fixture.h"

namespace qvtest::fx {

inline constexpr size_t kHeaderSize = 16;
inline constexpr int32_t kSuccess = 20900;
inline constexpr int32_t kLoginCode = 10000;

inline Bytes header(int32_t code, int32_t length, int32_t part_no = 1, int32_t part_count = 1) {
  return rec::le32(code) + rec::le32(part_no) + rec::le32(part_count) + rec::le32(length);
}

// A reply: header and body; Length is the body's size.
inline Bytes reply(int32_t code, const Bytes &body) {
  return header(code, static_cast<int32_t>(body.size())) + body;
}

inline int32_t int_at(const Bytes &bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i)
    v |= uint32_t(static_cast<unsigned char>(bytes.at(at + i))) << (8 * i);
  return static_cast<int32_t>(v);
}

// The login body with the given key.
inline Bytes login_body(const Bytes &app, const Bytes &ver, const Bytes &key, const Bytes &name,
                        const Bytes &pwd) {
  return "<?xml version=\"1.0\" encoding=\"gb2312\"?><login><app>" + app + "</app><ver>" + ver +
         "</ver><key>" + key + "</key><name>" + name + "</name><pwd>" + pwd + "</pwd></login>";
}

// Checks that `request` is one whole login request (header 10000, 1, 1,
// Length, then exactly Length body bytes) carrying these texts, and hands
// back its key: 1 to 10 decimal digits, no leading zero, at most 2147483646.
inline ::testing::AssertionResult is_login(const Bytes &request, const Bytes &app, const Bytes &ver,
                                           const Bytes &name, const Bytes &pwd,
                                           Bytes *key_out = nullptr) {
  if (request.size() < kHeaderSize)
    return ::testing::AssertionFailure() << "only " << request.size() << " bytes";
  const int32_t code = int_at(request, 0), part_no = int_at(request, 4),
                part_count = int_at(request, 8), length = int_at(request, 12);
  if (code != kLoginCode || part_no != 1 || part_count != 1)
    return ::testing::AssertionFailure()
           << "header " << code << ", " << part_no << ", " << part_count;
  const Bytes body = request.substr(kHeaderSize);
  if (length < 0 || static_cast<size_t>(length) != body.size())
    return ::testing::AssertionFailure()
           << "Length " << length << " but " << body.size() << " body bytes";
  const Bytes before_key =
      login_body(app, ver, "", name, pwd).substr(0, 51 + app.size() + 6 + 5 + ver.size() + 6 + 5);
  if (body.compare(0, before_key.size(), before_key) != 0)
    return ::testing::AssertionFailure() << "body does not open as expected: " << body;
  const size_t key_end = body.find("</key>", before_key.size());
  if (key_end == Bytes::npos) return ::testing::AssertionFailure() << "no </key> in " << body;
  const Bytes key = body.substr(before_key.size(), key_end - before_key.size());
  if (key.empty() || key.size() > 10 || key.find_first_not_of("0123456789") != Bytes::npos ||
      (key.size() > 1 && key[0] == '0') || std::stoull(key) > 2147483646ull)
    return ::testing::AssertionFailure() << "bad key \"" << key << "\"";
  if (body != login_body(app, ver, key, name, pwd))
    return ::testing::AssertionFailure() << "body differs: " << body;
  if (key_out) *key_out = key;
  return ::testing::AssertionSuccess();
}

// Reads one login request off the connection: everything up to "</login>".
inline Script &expect_login(Script &s) { return s.expect_until("</login>"); }
inline Script expect_login() { return Script().expect_until("</login>"); }

// A login accepted with a document that carries no values.
inline Script logged_in() { return expect_login().send(reply(kSuccess, "<r/>")); }

}  // namespace qvtest::fx

namespace qvtest {

// The login reply's outputs, each starting untouched.
struct LoginOutputs {
  MessageBuffer message;
  int32_t agent = kUnsetCode;
  OutBuffer<64> pud;
  int32_t agreement = kUnsetCode;
};

inline qv_bool login_resp(LoginOutputs &o, int32_t code, int32_t length) {
  return fxLogin_Resp(o.message.get(), &o.agent, o.pud.get(), &o.agreement, code, length);
}

class XmlTest : public QuorvexTest {
 protected:
  std::string fx_connect() {
    MessageBuffer message;
    EXPECT_EQ(1, fxTcpConnect(message.get(), "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
    return message.text();
  }

  // Connects and logs in with the standard texts; the server's connection
  // must open with fx::logged_in().
  void fx_connect_and_login() {
    ASSERT_EQ(gbk("TCP连接成功"), fx_connect());
    int32_t code = kUnsetCode, length = kUnsetCode;
    ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
    ASSERT_EQ(fx::kSuccess, code);
    LoginOutputs out;
    ASSERT_EQ(1, login_resp(out, code, length));
  }

  // The login request that a connection received first, checked against
  // the standard texts; its key.
  Bytes standard_login_key(size_t connection) {
    Bytes key;
    EXPECT_TRUE(fx::is_login(server.captured(connection, 0), kApp, kVer, kName, kPwd, &key));
    return key;
  }
};

}  // namespace qvtest
