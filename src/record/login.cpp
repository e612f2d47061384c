#include "record/login.h"

#include <string>

#include "connection/client_context.h"
#include "connection/connect.h"
#include "connection/socket_errors.h"

namespace qv::record {
namespace {

using connection::LoginCredentials;

std::string_view or_empty(const char *t) { return t ? std::string_view(t) : std::string_view(); }

// The login body is "app;extra"; false when a text does not fit its field.
bool build_login_record(const LoginCredentials &c, CommandRecord &rec) {
  const size_t body_len = c.app.size() + 1 + c.extra.size();
  if (body_len > max_text(Field::Body) || c.name.size() > max_text(Field::Param1) ||
      c.pwd.size() > max_text(Field::Param2) || c.ver.size() > max_text(Field::Param3))
    return false;
  std::string body;
  body.reserve(body_len);
  body.append(c.app).append(1, ';').append(c.extra);
  rec.set_code(kLoginCode);
  rec.put_text(Field::Body, body);
  rec.set_body_len(static_cast<int32_t>(body_len));
  rec.put_text(Field::Param1, c.name);
  rec.put_text(Field::Param2, c.pwd);
  rec.put_text(Field::Param3, c.ver);
  return true;
}

}  // namespace

bool login_request(const char *app, const char *extra, const char *name, const char *pwd,
                   const char *ver) {
  LoginCredentials fresh{std::string(or_empty(app)), std::string(or_empty(extra)),
                         std::string(or_empty(name)), std::string(or_empty(pwd)),
                         std::string(or_empty(ver))};
  CommandRecord rec;
  if (!build_login_record(fresh, rec)) return false;  // nothing saved, nothing sent

  connection::ClientContext &ctx = connection::context();
  ctx.login_credentials = std::move(fresh);
  try {
    if (!ctx.tcp_client) throw connection::Error(std::string(text::kNotConnected));
    ctx.tcp_client->write(rec.data(), rec.size());
    return true;
  } catch (const std::exception &) {
    relogin_quietly();
    return false;
  }
}

bool relogin() {
  if (connection::disconnect_requested()) return false;  // the host is closing the connection
  connection::ClientContext &ctx = connection::context();
  CommandRecord rec;
  if (!build_login_record(ctx.login_credentials, rec)) return false;
  if (!connection::disconnect()) return false;

  // A copy: a successful connect stores its arguments over the saved ones.
  const connection::ConnectionSettings settings = ctx.connection_settings;
  const connection::MessageBuffer message{ctx.reconnect_message ? ctx.reconnect_message->data() : nullptr,
                                          connection::kReconnectMessageSize};
  if (!connection::connect(connection::Protocol::Record, message, settings)) return false;

  try {
    ctx.tcp_client->write(rec.data(), rec.size());
    rec.clear();
    ctx.tcp_client->read_exact(rec.data(), rec.size());
  } catch (const std::exception &) {
    return false;
  }
  return rec.code() == kAccepted;
}

}  // namespace qv::record
