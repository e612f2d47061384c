// A session: one connection with everything that belongs to it.  Every
// function that uses the connection, the saved settings and login texts,
// the read time-out or what a first call kept is handed the session it
// acts on; the library keeps no such state anywhere else.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "connection/call_lock.h"
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

// What a module above keeps in a session for the second call of a pair
// (record answers, XML replies).  The session owns it and lets it go with
// the connection, without knowing what it holds.
class KeptStore {
 public:
  virtual ~KeptStore() = default;
  virtual void clear() = 0;
};

// What dllInitialize does beyond the default session's objects: the trace
// from the environment, and COM on the calling thread, which the release
// undoes.  A session made for the host needs neither.
void initialize_process();
void uninitialize_process();

class Session {
 public:
  Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // The call lock: every call that uses the session runs alone on it, so
  // that two host threads can never interleave their requests on its
  // stream.  Calls on different sessions never wait for each other.
  CallLock call_lock;
  // The read time-out and the interrupt of every wait on the connection.
  Waits waits;

  // Made by initialize(), destroyed by release().
  std::unique_ptr<TcpClient> tcp_client;
  std::unique_ptr<SocksSettings> socks_settings;
  std::unique_ptr<SocksHandler> socks_handler;
  // Message buffer of the relogin's connect; nothing reads it.
  std::unique_ptr<std::array<char, kReconnectMessageSize>> reconnect_message;

  // Survive release(), for the relogins after the next connect.
  ConnectionSettings connection_settings;
  LoginCredentials login_credentials;
  // Void once its connection goes (disconnect, release, a new connect).
  LoginState login_state;

  // What the first calls of pairs kept, one store per protocol, each made
  // by its module at its first use (kept()).
  std::unique_ptr<KeptStore> kept_answers;
  std::unique_ptr<KeptStore> kept_replies;

  template <class Store>
  static Store &kept(std::unique_ptr<KeptStore> &slot) {
    if (!slot) slot = std::make_unique<Store>();
    return static_cast<Store &>(*slot);
  }
  // Frees everything kept: its connection has gone.
  void forget_kept();

  // The generation of the connection as it is now; 0 without a connection
  // object.
  uint64_t current_connection() const;

  // A login answered on the current connection: the login state notes it.
  void note_login(LoginProtocol protocol, int32_t code, bool accepted);

  // Creates the connection objects (a second call creates nothing new).
  bool initialize();
  // Disconnects and destroys the objects; settings and credentials survive.
  bool release();
  // Between initialize() and release(); safe from any thread.
  bool initialised() const { return initialised_.load(); }
  // Names the session for what a thread keeps about its calls on it: never
  // reused, unlike the session's address.
  uint64_t id() const { return id_; }
  // The number the trace shows on the lines of calls on this session
  // ("s3"); 0, which shows nothing, for the default session, whose lines
  // read as they did before there were sessions.
  uint64_t trace_number() const { return trace_number_; }
  void number_for_trace(uint64_t number) { trace_number_ = number; }
  // Closes the connection; false before initialisation.
  bool disconnect();

  // True while a disconnect asked for by another thread has not run yet:
  // a failure path then leaves the connection closed instead of
  // reconnecting behind the host's back.
  bool disconnect_requested() const { return waits.interrupt_pending(); }

  // Reads the session (the caller holds the call lock) and publishes the
  // state that GetConnectionState reports, so that a query never waits
  // for a call in progress.
  void publish_state();
  PublishedState published_state() const;

 private:
  const uint64_t id_;
  uint64_t trace_number_ = 0;
  std::atomic<bool> initialised_{false};
  // Each field is published on its own; a reader may see one call's flags
  // with the previous call's login, which a state query tolerates.
  std::atomic<int32_t> published_flags_{0};
  std::atomic<int32_t> published_path_{0};
  std::atomic<int32_t> published_login_{0};
  std::atomic<int32_t> published_login_code_{-1};
};

}  // namespace qv::connection
