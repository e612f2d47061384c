#include "connection/client_context.h"

#include <atomic>

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"
#include "platform/platform.h"

namespace qv::connection {

ClientContext &context() {
  static ClientContext instance;
  return instance;
}

bool initialize() {
  platform::com_initialize();
  ClientContext &c = context();
  if (c.tcp_client) return true;
  c.tcp_client = std::make_unique<TcpClient>();
  c.socks_settings = std::make_unique<SocksSettings>();
  c.socks_handler = std::make_unique<SocksHandler>();
  c.reconnect_message = std::make_unique<std::array<char, kReconnectMessageSize>>();
  return true;
}

namespace {
std::atomic<bool> g_disconnect_requested{false};
}  // namespace

bool release() {
  ClientContext &c = context();
  g_disconnect_requested.store(false);  // the release itself answers the request
  if (c.tcp_client) {
    c.tcp_client->disconnect();
    c.tcp_client.reset();
  }
  clear_interrupt();
  c.socks_handler.reset();
  c.socks_settings.reset();
  c.reconnect_message.reset();
  platform::com_uninitialize();
  return true;
}

bool disconnect() {
  ClientContext &c = context();
  g_disconnect_requested.store(false);
  if (c.tcp_client) c.tcp_client->disconnect();
  clear_interrupt();
  return c.tcp_client != nullptr;
}

void request_disconnect() {
  g_disconnect_requested.store(true);
  interrupt_blocking_io();
}

bool disconnect_requested() { return g_disconnect_requested.load(); }

}  // namespace qv::connection
