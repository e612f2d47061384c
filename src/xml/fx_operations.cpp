#include "xml/fx_operations.h"

#include <random>
#include <string>

#include "connection/client_context.h"
#include "platform/platform.h"
#include "xml/fx_exchange.h"

namespace qv::xml {
namespace {

using connection::MessageBuffer;

constexpr size_t kUnbounded = SIZE_MAX;
constexpr size_t kReloginPudSize = 50;

std::string_view or_empty(const char *t) { return t ? std::string_view(t) : std::string_view(); }

// A fresh key for every login: the generator is seeded from the clock each
// time, and the key is uniform over 0..2147483646.
std::string login_key() {
  std::mt19937 generator(platform::clock_seed());
  std::uniform_int_distribution<int32_t> draw(0, 2147483646);
  return std::to_string(draw(generator));
}

// The login body, texts inserted byte for byte without escaping.
std::string login_body(std::string_view app, std::string_view ver, std::string_view name, std::string_view pwd) {
  std::string body;
  body.reserve(111 + app.size() + ver.size() + 10 + name.size() + pwd.size());
  body.append("<?xml version=\"1.0\" encoding=\"gb2312\"?><login><app>").append(app).append("</app>");
  body.append("<ver>").append(ver).append("</ver>");
  body.append("<key>").append(login_key()).append("</key>");
  body.append("<name>").append(name).append("</name>");
  body.append("<pwd>").append(pwd).append("</pwd>");
  body.append("</login>");
  return body;
}

void write_text(const MessageBuffer &out, std::string_view text) { out.write(text); }

// The body as text: up to its first zero byte.
std::string_view as_text(const std::string &body) {
  const size_t zero = body.find('\0');
  return std::string_view(body).substr(0, zero);
}

}  // namespace

bool login_request(int32_t *reply_code, int32_t *reply_length, const char *app, const char *extra,
                   const char *name, const char *pwd, const char *ver) {
  if (!reply_code || !reply_length) return false;
  *reply_code = -1;
  *reply_length = 0;
  const std::string body = login_body(or_empty(app), or_empty(ver), or_empty(name), or_empty(pwd));
  connection::context().login_credentials = {std::string(or_empty(app)), std::string(or_empty(extra)),
                                             std::string(or_empty(name)), std::string(or_empty(pwd)),
                                             std::string(or_empty(ver))};
  int32_t code = -1, length = 0;
  if (request(kLoginCode, body, code, length) != RequestOutcome::Replied) return false;
  *reply_code = code;
  *reply_length = length;
  return true;
}

bool login_response(const MessageBuffer &message, int32_t *agent, const MessageBuffer &pud, int32_t *agreement,
                    int32_t reply_code, int32_t reply_length) {
  if (!message.data || !agent || !pud.data || !agreement) return false;
  if (reply_length <= 0) {
    write_text(message, text::kLoginReplyEmpty.gbk);
    return false;
  }
  std::string body;
  if (!read_body(reply_length, body)) {
    write_text(message, text::kLoginReplyReadFailed.gbk);
    return false;
  }
  if (reply_code != kFxSuccessCode) {
    write_text(message, as_text(body));
    return true;
  }
  try {
    ReplyDocument doc;
    if (!doc.parse(body)) throw ParseError{};
    if (auto v = doc.number("agent")) *agent = *v;
    if (auto v = doc.number("agreement")) *agreement = *v;
    if (auto v = doc.value("pud")) pud.write(*v);
    if (auto v = doc.value("desc")) message.write(*v);
    return true;
  } catch (const ParseError &) {
    write_text(message, text::kLoginReplyParseFailed.gbk);
    return false;
  }
}

bool relogin() {
  if (connection::disconnect_requested()) return false;  // the host is closing the connection
  try {
    connection::ClientContext &ctx = connection::context();
    if (!connection::disconnect()) return false;
    const connection::ConnectionSettings settings = ctx.connection_settings;
    const MessageBuffer message{ctx.reconnect_message ? ctx.reconnect_message->data() : nullptr,
                                connection::kReconnectMessageSize};
    if (!connection::connect(connection::Protocol::Xml, message, settings)) return false;

    const connection::LoginCredentials saved = ctx.login_credentials;
    int32_t code = -1, length = 0;
    if (!login_request(&code, &length, saved.app.c_str(), "", saved.name.c_str(), saved.pwd.c_str(),
                       saved.ver.c_str()))
      return false;
    int32_t agent = 0, agreement = 0;
    char pud[kReloginPudSize];
    const bool read = login_response(message, &agent, {pud, sizeof pud}, &agreement, code, length);
    return read && code == kFxSuccessCode;
  } catch (...) {
    return false;
  }
}

bool query_request(const Query &query, int32_t *reply_code, int32_t *reply_length) {
  if (!reply_code || !reply_length) return false;
  *reply_code = -1;
  int32_t code = -1, length = 0;
  if (request(query.code, {}, code, length) != RequestOutcome::Replied) {
    relogin();
    return false;
  }
  *reply_code = code;
  *reply_length = length;
  return true;
}

bool query_response(const Query &query, char *message, int32_t reply_code, int32_t reply_length) {
  if (!message) return false;
  const MessageBuffer out{message, kUnbounded};
  if (reply_length <= 0) {
    write_text(out, text::kFeedbackEmpty.gbk);
    return false;
  }
  std::string body;
  if (!read_body(reply_length, body)) {
    write_text(out, text::kFeedbackReadFailed.gbk);
    relogin();
    return false;
  }
  if (reply_code != kFxSuccessCode) {
    write_text(out, query.refused->gbk);
    return true;
  }
  try {
    ReplyDocument doc;
    if (!doc.parse(body)) throw ParseError{};
    if (auto v = doc.value(query.element)) out.write(*v);
    return true;
  } catch (const ParseError &) {
    write_text(out, text::kXmlParseFailed.gbk);
    return false;
  }
}

}  // namespace qv::xml
