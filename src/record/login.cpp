#include "record/login.h"

#include "connection/connect.h"
#include "record/exchange.h"

namespace qv::record {

bool relogin(connection::Session &session) {
  if (!connection::reconnect(session, connection::Protocol::Record)) return false;

  // Saved texts that do not fit the record (an XML login's, say) are not
  // sent; the connection is renewed all the same.
  const connection::LoginCredentials &saved = session.login_credentials;
  const Call call{.texts = {saved.app.c_str(), saved.extra.c_str(), saved.name.c_str(),
                            saved.pwd.c_str(), saved.ver.c_str()}};
  if (!texts_fit(kLogin, call)) {
    connection::relogin_failed(
        connection::Error("The saved login texts do not fit a login record."));
    return false;
  }
  CommandRecord rec;
  fill_request(kLogin, call, rec);
  try {
    exchange(kLogin, *session.tcp_client, rec);
  } catch (const std::exception &e) {
    connection::relogin_failed(connection::as_error(e));
    return false;
  }
  const bool accepted = rec.code() == kAccepted;
  connection::relogin_answered(rec.code(), accepted);
  session.note_login(connection::LoginProtocol::Record, rec.code(), accepted);
  return accepted;
}

}  // namespace qv::record
