#include "record/login.h"

#include "connection/client_context.h"
#include "connection/connect.h"

namespace qv::record {

bool relogin() {
  if (connection::disconnect_requested()) return false;  // the host is closing the connection
  connection::ClientContext &ctx = connection::context();
  if (!connection::disconnect()) return false;

  // A copy: a successful connect stores its arguments over the saved ones.
  const connection::ConnectionSettings settings = ctx.connection_settings;
  const connection::MessageBuffer message{ctx.reconnect_message ? ctx.reconnect_message->data() : nullptr,
                                          connection::kReconnectMessageSize};
  if (!connection::connect(connection::Protocol::Record, message, settings)) return false;

  // Saved texts that do not fit the record (an XML login's, say) are not
  // sent; the connection is renewed all the same.
  const connection::LoginCredentials &saved = ctx.login_credentials;
  const Call call{.texts = {saved.app.c_str(), saved.extra.c_str(), saved.name.c_str(), saved.pwd.c_str(),
                            saved.ver.c_str()}};
  if (!texts_fit(kLogin, call)) return false;
  CommandRecord rec;
  fill_request(kLogin, call, rec);
  try {
    exchange(*ctx.tcp_client, rec);
  } catch (const std::exception &) {
    return false;
  }
  return rec.code() == kAccepted;
}

}  // namespace qv::record
