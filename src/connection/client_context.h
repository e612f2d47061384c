// The one process-wide state of the library.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "connection/call_outcome.h"
#include "connection/tcp_client.h"

namespace qv::connection {

struct SocksSettings {
  enum class Authentication { None, UserPassword };
  enum class Version { None, Socks4, Socks4A, Socks5 };

  Authentication authentication = Authentication::None;
  std::string host;
  std::string password;
  int32_t port = 1080;
  std::string username;
  Version version = Version::None;
};

// The handler that opens a connection through a SOCKS proxy.  It holds its
// own copy of the settings, refreshed before every SOCKS connect.
class SocksHandler : public SocketHandler {
 public:
  SocksSettings settings;
  void open(const std::string &host, int32_t port, int32_t timeout) override;
};

// The arguments of the last successful connect, exactly as passed.
struct ConnectionSettings {
  std::string host;
  int32_t port = 0;
  int32_t timeout = 0;
  std::string proxy_kind;
  std::string proxy_host;
  int32_t proxy_port = 0;
  std::string proxy_user;
  std::string proxy_password;
};

// The texts of the last login, sent again by every relogin.
struct LoginCredentials {
  std::string app;
  std::string extra;
  std::string name;
  std::string pwd;
  std::string ver;
};

inline constexpr size_t kReconnectMessageSize = 100;

struct ClientContext {
  std::unique_ptr<TcpClient> tcp_client;
  std::unique_ptr<SocksSettings> socks_settings;
  std::unique_ptr<SocksHandler> socks_handler;
  ConnectionSettings connection_settings;
  LoginCredentials login_credentials;
  LoginState login_state;
  // Message buffer of the relogin's connect; nothing reads it.
  std::unique_ptr<std::array<char, kReconnectMessageSize>> reconnect_message;
};

ClientContext &context();

// The generation of the context's connection as it is now; 0 without a
// connection object.
uint64_t current_connection();

// A login answered on the current connection: its session notes it.
void note_login(LoginProtocol protocol, int32_t code, bool accepted);

// Creates the context's objects (a second call creates nothing new).
bool initialize();
// Disconnects and destroys the objects; settings and credentials survive.
bool release();
// Closes the connection; false before initialisation.
bool disconnect();

// True while a disconnect asked for by another thread (request_interrupt)
// has not run yet: a failure path then leaves the connection closed
// instead of reconnecting behind the host's back.
bool disconnect_requested();

}  // namespace qv::connection
