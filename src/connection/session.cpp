#include "connection/session.h"

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"
#include "platform/platform.h"
#include "trace/trace.h"

namespace qv::connection {
namespace {

// Touched only when a session is made.
std::atomic<uint64_t> g_next_session_id{1};

}  // namespace

void initialize_process() {
  trace::start_from_environment();
  platform::com_initialize();
}

void uninitialize_process() { platform::com_uninitialize(); }

Session::Session() : id_(g_next_session_id.fetch_add(1)) {}

// Empties the stores it owns, which const would hide.
void Session::forget_kept() {  // NOLINT(readability-make-member-function-const)
  if (kept_answers) kept_answers->clear();
  if (kept_replies) kept_replies->clear();
}

uint64_t Session::current_connection() const { return tcp_client ? tcp_client->generation() : 0; }

void Session::note_login(LoginProtocol protocol, int32_t code, bool accepted) {
  LoginState &s = login_state;
  if (s.connection == 0 || s.connection != current_connection()) return;
  s.login = protocol;
  s.login_code = code;
  s.accepted = accepted;
}

bool Session::initialize() {
  initialised_.store(true);
  if (tcp_client) return true;
  tcp_client = std::make_unique<TcpClient>(waits);
  socks_settings = std::make_unique<SocksSettings>();
  socks_handler = std::make_unique<SocksHandler>();
  reconnect_message = std::make_unique<std::array<char, kReconnectMessageSize>>();
  return true;
}

bool Session::release() {
  if (tcp_client) {
    tcp_client->disconnect();
    tcp_client.reset();
  }
  login_state = {};
  socks_handler.reset();
  socks_settings.reset();
  reconnect_message.reset();
  initialised_.store(false);
  return true;
}

bool Session::disconnect() {
  trace::event_if_on([&] {
    return tcp_client && tcp_client->connected() ? "disconnect" : "disconnect (nothing open)";
  });
  if (tcp_client) tcp_client->disconnect();
  login_state = {};
  return tcp_client != nullptr;
}

void Session::publish_state() {
  // The connection that the login was noted on has gone: so has the login.
  if (!tcp_client || tcp_client->generation() != login_state.connection) login_state = {};
  int32_t flags = 0;
  if (tcp_client) flags |= kStateInitialised;
  const bool connected = tcp_client && tcp_client->connected();
  if (connected) flags |= kStateConnected;
  if (connected && login_state.accepted) flags |= kStateLoggedIn;
  published_flags_.store(flags);
  published_path_.store(static_cast<int32_t>(connected ? login_state.path : Path::None));
  published_login_.store(static_cast<int32_t>(login_state.login));
  published_login_code_.store(login_state.login_code);
}

PublishedState Session::published_state() const {
  return {published_flags_.load(), static_cast<Path>(published_path_.load()),
          static_cast<LoginProtocol>(published_login_.load()), published_login_code_.load()};
}

}  // namespace qv::connection
