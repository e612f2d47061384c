#include "connection/client_context.h"

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"
#include "platform/platform.h"
#include "trace/trace.h"

namespace qv::connection {

ClientContext &context() {
  static ClientContext instance;
  return instance;
}

uint64_t current_connection() {
  const ClientContext &c = context();
  return c.tcp_client ? c.tcp_client->generation() : 0;
}

void note_login(LoginProtocol protocol, int32_t code, bool accepted) {
  LoginState &s = context().login_state;
  if (s.connection == 0 || s.connection != current_connection()) return;
  s.login = protocol;
  s.login_code = code;
  s.accepted = accepted;
}

bool initialize() {
  trace::start_from_environment();
  platform::com_initialize();
  ClientContext &c = context();
  if (c.tcp_client) return true;
  c.tcp_client = std::make_unique<TcpClient>();
  c.socks_settings = std::make_unique<SocksSettings>();
  c.socks_handler = std::make_unique<SocksHandler>();
  c.reconnect_message = std::make_unique<std::array<char, kReconnectMessageSize>>();
  return true;
}

bool release() {
  ClientContext &c = context();
  if (c.tcp_client) {
    c.tcp_client->disconnect();
    c.tcp_client.reset();
  }
  c.login_state = {};
  c.socks_handler.reset();
  c.socks_settings.reset();
  c.reconnect_message.reset();
  platform::com_uninitialize();
  return true;
}

bool disconnect() {
  ClientContext &c = context();
  trace::event_if_on([&] {
    return c.tcp_client && c.tcp_client->connected() ? "disconnect" : "disconnect (nothing open)";
  });
  if (c.tcp_client) c.tcp_client->disconnect();
  c.login_state = {};
  return c.tcp_client != nullptr;
}

bool disconnect_requested() { return interrupt_pending(); }

}  // namespace qv::connection
