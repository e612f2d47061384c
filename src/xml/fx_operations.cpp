#include "xml/fx_operations.h"

#include <cstdio>
#include <optional>
#include <cstdint>
#include <random>
#include <string>

#include "common/kept_replies.h"
#include "connection/session.h"
#include "platform/platform.h"
#include "xml/fx_exchange.h"

namespace qv::xml {
namespace {

using connection::MessageBuffer;

constexpr size_t kUnbounded = SIZE_MAX;
constexpr size_t kReloginPudSize = 50;

std::string_view or_empty(const char *t) { return t ? std::string_view(t) : std::string_view(); }

// SplitMix64: a generator whose seeding costs nothing, where a Mersenne
// twister fills 624 words for the one draw a login makes.
class SplitMix64 {
 public:
  using result_type = uint64_t;
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  static constexpr result_type min() { return 0; }
  static constexpr result_type max() { return UINT64_MAX; }
  result_type operator()() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }

 private:
  uint64_t state_;
};

// A fresh key for every login: the generator is seeded from the clock each
// time, and the key is uniform over 0..2147483646.
std::string login_key() {
  SplitMix64 generator(platform::clock_seed());
  std::uniform_int_distribution<int32_t> draw(0, 2147483646);
  return std::to_string(draw(generator));
}

// The login body, texts inserted byte for byte without escaping; *secret
// is where the password went, for the trace to mask.
std::string login_body(std::string_view app, std::string_view ver, std::string_view name,
                       std::string_view pwd, trace::Secret *secret) {
  std::string body;
  body.reserve(111 + app.size() + ver.size() + 10 + name.size() + pwd.size());
  body.append("<?xml version=\"1.0\" encoding=\"gb2312\"?><login><app>")
      .append(app)
      .append("</app>");
  body.append("<ver>").append(ver).append("</ver>");
  body.append("<key>").append(login_key()).append("</key>");
  body.append("<name>").append(name).append("</name>");
  body.append("<pwd>");
  *secret = {body.size(), pwd.size()};
  body.append(pwd).append("</pwd>");
  body.append("</login>");
  return body;
}

void write_text(const MessageBuffer &out, std::string_view text) { out.write(text); }

// The body as text: up to its first zero byte.
std::string_view as_text(const std::string &body) {
  const size_t zero = body.find('\0');
  return std::string_view(body).substr(0, zero);
}

// Replies read by the request halves, kept in the session for the
// response halves.
struct KeptFxReplies final : connection::KeptStore {
  KeptReplies<Reply> replies;
  void clear() override { replies.clear(); }
};

KeptReplies<Reply> &kept_replies(connection::Session &session) {
  return connection::Session::kept<KeptFxReplies>(session.kept_replies).replies;
}

bool same_header(const Reply &r, int32_t code, int32_t length) {
  return r.code == code && r.length == length;
}

// The reply that the host's response half asks for: the one its thread's
// request half kept on this session's connection, with the very code and
// length it passes.  None when there is none; one that does not match
// stays kept for a corrected call.
std::optional<Reply> kept_reply(connection::Session &session, int32_t operation, int32_t code,
                                int32_t length) {
  std::optional<Reply> r;
  if (session.disconnect_requested()) {
    // A disconnect or a destroy from another thread is under way: the
    // reply's connection is going, and the call ends as a read it ended.
    r.emplace();
    r->code = code;
    r->length = length;
    r->error = connection::interrupted();
    return r;
  }
  kept_replies(session).take(
      operation, session.current_connection(),
      [&](const Reply &kept) { return same_header(kept, code, length); }, r);
  return r;
}

// Keeps the reply for the thread's response half, on the connection as the
// request half left it (a body that could not be read has closed it).
void keep_reply(connection::Session &session, int32_t operation, Reply reply) {
  kept_replies(session).keep(operation, session.current_connection(), std::move(reply));
}

// Saves the five texts for relogins, then sends the login with a new key.
RequestOutcome send_login(connection::Session &session, Reply &reply, std::string_view app,
                          std::string_view extra, std::string_view name, std::string_view pwd,
                          std::string_view ver) {
  trace::Secret secret{0, 0};
  const std::string body = login_body(app, ver, name, pwd, &secret);
  session.login_credentials = {std::string(app), std::string(extra), std::string(name),
                               std::string(pwd), std::string(ver)};
  return request(session, kLoginCode, body, reply, secret);
}

// A request half that got no reply: what the host is told.
void request_failed(RequestOutcome outcome, const Reply &reply) {
  connection::exchange_failed(reply.error ? *reply.error : connection::Error("No reply."),
                              outcome == RequestOutcome::ReadFailed);
}

void refuse_null(int32_t argument) {
  char why[64];
  std::snprintf(why, sizeof why, "Argument %d is a null pointer.", argument);
  connection::refuse(argument, why);
}

// A response half that handed nothing over: what the host is told.  The
// checks are those of the response halves, in their order.
void response_failed(int32_t reply_length, const Reply *reply) {
  if (reply_length <= 0)
    connection::other_failure("The reply has no body.");
  else if (!reply)
    connection::refuse(
        0,
        "No reply with this code and length is waiting: its request half did not run, "
        "or its reply was taken already.");
  else if (!reply->body_read)
    connection::exchange_failed(
        reply->error ? *reply->error : connection::Error("The reply body was not read."), true);
  else
    connection::other_failure("The reply is not a document that the library can read.");
}

void note_login(connection::Session &session, int32_t code) {
  session.note_login(connection::LoginProtocol::Xml, code, code == kFxSuccessCode);
}

// The login reply's values into the caller's outputs; the messages of the
// response half.  reply is null when nothing was kept for this call.
bool take_login_reply(const MessageBuffer &message, int32_t *agent, const MessageBuffer &pud,
                      int32_t *agreement, int32_t reply_code, int32_t reply_length,
                      const Reply *reply) {
  if (reply_length <= 0) {
    write_text(message, text::kLoginReplyEmpty.gbk);
    return false;
  }
  if (!reply || !reply->body_read) {
    write_text(message, text::kLoginReplyReadFailed.gbk);
    return false;
  }
  if (reply_code != kFxSuccessCode) {
    write_text(message, as_text(reply->body));
    return true;
  }
  try {
    ReplyDocument doc;
    if (!doc.parse(reply->body, {"agent", "agreement", "pud", "desc"})) throw ParseError{};
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

}  // namespace

bool login_request(connection::Session &session, int32_t *reply_code, int32_t *reply_length,
                   const char *app, const char *extra, const char *name, const char *pwd,
                   const char *ver) {
  // A new request half, even a refused one, ends what the last one kept.
  kept_replies(session).drop(kLoginCode);
  if (!reply_code || !reply_length) {
    refuse_null(reply_code ? 2 : 1);
    return false;
  }
  *reply_code = -1;
  *reply_length = 0;
  Reply reply;
  const RequestOutcome sent = send_login(session, reply, or_empty(app), or_empty(extra),
                                         or_empty(name), or_empty(pwd), or_empty(ver));
  if (sent != RequestOutcome::Replied) {
    request_failed(sent, reply);
    return false;
  }
  connection::mark_sent();
  *reply_code = reply.code;
  *reply_length = reply.length;
  keep_reply(session, kLoginCode, std::move(reply));
  return true;
}

bool login_response(connection::Session &session, const MessageBuffer &message, int32_t *agent,
                    const MessageBuffer &pud, int32_t *agreement, int32_t reply_code,
                    int32_t reply_length) {
  if (!message.data || !agent || !pud.data || !agreement) {
    refuse_null(!message.data ? 1 : !agent ? 2 : !pud.data ? 3 : 4);
    return false;
  }
  const std::optional<Reply> reply = kept_reply(session, kLoginCode, reply_code, reply_length);
  const Reply *kept = reply ? &*reply : nullptr;
  if (!take_login_reply(message, agent, pud, agreement, reply_code, reply_length, kept)) {
    response_failed(reply_length, kept);
    return false;
  }
  note_login(session, reply_code);
  return true;
}

bool relogin(connection::Session &session) {
  try {
    if (!connection::reconnect(session, connection::Protocol::Xml)) return false;
    const MessageBuffer message = connection::reconnect_message(session);

    const connection::LoginCredentials saved = session.login_credentials;
    Reply reply;
    if (send_login(session, reply, saved.app, "", saved.name, saved.pwd, saved.ver) !=
        RequestOutcome::Replied) {
      connection::relogin_failed(reply.error ? *reply.error : connection::Error("No reply."));
      return false;
    }
    int32_t agent = 0, agreement = 0;
    char pud[kReloginPudSize];
    if (!take_login_reply(message, &agent, {pud, sizeof pud}, &agreement, reply.code, reply.length,
                          &reply)) {
      connection::relogin_failed(
          reply.error ? *reply.error : connection::Error("The login reply could not be read."));
      return false;
    }
    connection::relogin_answered(reply.code, reply.code == kFxSuccessCode);
    note_login(session, reply.code);
    return reply.code == kFxSuccessCode;
  } catch (...) {
    connection::relogin_failed(connection::Error("The relogin failed."));
    return false;
  }
}

bool query_request(connection::Session &session, const Query &query, int32_t *reply_code,
                   int32_t *reply_length) {
  kept_replies(session).drop(query.code);
  if (!reply_code || !reply_length) {
    refuse_null(reply_code ? 2 : 1);
    return false;
  }
  *reply_code = -1;
  Reply reply;
  if (const RequestOutcome sent = request(session, query.code, {}, reply);
      sent != RequestOutcome::Replied) {
    request_failed(sent, reply);
    relogin(session);
    return false;
  }
  connection::mark_sent();
  *reply_code = reply.code;
  *reply_length = reply.length;
  keep_reply(session, query.code, std::move(reply));
  return true;
}

bool query_response(connection::Session &session, const Query &query, char *message,
                    int32_t reply_code, int32_t reply_length) {
  if (!message) {
    refuse_null(1);
    return false;
  }
  const MessageBuffer out{message, kUnbounded};
  const std::optional<Reply> reply = kept_reply(session, query.code, reply_code, reply_length);
  if (reply_length <= 0) {
    response_failed(reply_length, nullptr);
    write_text(out, text::kFeedbackEmpty.gbk);
    return false;
  }
  if (!reply || !reply->body_read) {
    response_failed(reply_length, reply ? &*reply : nullptr);
    write_text(out, text::kFeedbackReadFailed.gbk);
    // A body that could not be read closed the connection: renew it.  A
    // reply that was never kept for this call leaves the stream as it is.
    if (reply) relogin(session);
    return false;
  }
  if (reply_code != kFxSuccessCode) {
    write_text(out, query.refused->gbk);
    return true;
  }
  try {
    ReplyDocument doc;
    if (!doc.parse(reply->body, {query.element})) throw ParseError{};
    if (auto v = doc.value(query.element)) out.write(*v);
    return true;
  } catch (const ParseError &) {
    response_failed(reply_length, &*reply);
    write_text(out, text::kXmlParseFailed.gbk);
    return false;
  }
}

}  // namespace qv::xml
