// qv::sim::Simulator: a stand-in for the platform server on a loopback
// port, for the demo, the command-line host and the tests.
//
// It serves many connections at once (a thread each, at most max_per_peer
// from one address, each closed after idle_timeout of silence) and speaks
// both protocols on the same port: fixed 2116-byte CommandRecords, each
// answered with exactly one record, and XML-protocol messages (a 16-byte
// header and a body), each answered with one header and body.  State is
// kept per account and shared by all its connections.  Codes, texts and
// formats are documented in tools/sim/README.md.
//
//   qv::sim::Simulator sim;              // the demo account "demo"/"demo123"
//   uint16_t port = sim.start(0);        // 127.0.0.1, a free port
//   ...                                  // connect the library to port
//   sim.drop_all_connections();          // provoke a relogin
//   sim.stop();                          // or let the destructor do it
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv::sim {

// Result codes of the record protocol's answers.
inline constexpr int32_t kAccepted = 900;         // request accepted
inline constexpr int32_t kBadRequest = 400;       // a request field is malformed or out of range
inline constexpr int32_t kWrongPassword = 401;    // a password does not match
inline constexpr int32_t kShortOfQuantity = 402;  // not enough quota or purchased quantity
inline constexpr int32_t kNotLoggedIn = 403;      // command needs a login on this connection first
inline constexpr int32_t kNotFound = 404;  // no such account, sub-account, product, order, job
inline constexpr int32_t kUnknownAccount = kNotFound;  // login: no account of that name
inline constexpr int32_t kContentRefused = 406;        // content holds a forbidden keyword
inline constexpr int32_t kAlreadyExists = 409;         // sub-account name or access number taken
inline constexpr int32_t kJobIncomplete = 412;         // send job not opened, or a field missing
inline constexpr int32_t kUnknownCommand = 999;        // the simulator does not know the code

// A first int32 of this value or above is the header of an XML-protocol
// request; below it, the start of a record.
inline constexpr int32_t kFirstXmlCode = 10000;
// Result codes of the XML protocol's replies.
inline constexpr int32_t kFxSuccess = 20900;
inline constexpr int32_t kFxBadRequest = 20400;  // login document without its elements
inline constexpr int32_t kFxWrongPassword = 20401;
inline constexpr int32_t kFxNotLoggedIn = 20403;
inline constexpr int32_t kFxUnknownAccount = 20404;
inline constexpr int32_t kFxUnknownCommand = 20999;
// The longest XML request body the simulator reads; a longer one closes
// the connection.
inline constexpr int32_t kFxMaxRequestBody = 64 * 1024;

// An enterprise account of the platform as it starts; the platform adds
// the rest of its state (products, orders, sub-accounts, ...) itself.
// Texts are GBK bytes; the password changes with EditPassword.
struct Account {
  std::string name;        // login name (Param1 of the login)
  std::string password;    // login password (Param2 of the login)
  std::string id;          // account id, answered in Param1
  std::string company;     // company name, in the GetUdInfo body
  int32_t quota = 0;       // messages left, answered in Param2
  int32_t level = 0;       // service level, answered in Param3
  int32_t mms_max_kb = 0;  // size limit of a multimedia message, in KB
};

// The built-in account: name "demo", password "demo123", id "10001",
// quota 10000, level 2, MMS limit 100 KB.
Account demo_account();

// The demo account and count - 1 more like it, so that several sessions
// can each log in with an account of their own: "demo2", "demo3", ...,
// password "demo123", ids "10002", "10003", ...
std::vector<Account> demo_accounts(std::size_t count);

struct Options {
  // Close each connection after answering this many requests; 0: never.
  std::size_t drop_after = 0;
  // Wait this long before every answer.
  std::chrono::milliseconds delay{0};
  // Close a connection once a read of its next bytes, or a write of an
  // answer it does not take, has waited this long; 0: never.  Generous, so
  // that a host that pauses between calls keeps its connection.
  std::chrono::milliseconds idle_timeout{std::chrono::minutes(5)};
  // Connections that one peer address may hold at once; one more is
  // closed as soon as it is accepted, so that a peer holding idle sockets
  // cannot take every descriptor and thread of the others.  0: no cap.
  std::size_t max_per_peer = 256;
  // The accounts that can log in.
  std::vector<Account> accounts{demo_account()};
  // If set, called with one line per answered request and per connection
  // event.  Calls are serialised; they run on the connection threads.
  std::function<void(std::string_view line)> log;
  // With log set: also one line for each request and each answer, with
  // their texts shown by show_text (passwords as "***").
  bool log_contents = false;
  std::function<std::string(std::string_view gbk)> show_text;
  // If set, called with each send job the simulator accepts (its job number
  // and its first recipient), as it is applied: the simulator's own
  // account of what it did, whatever became of the answer.
  std::function<void(std::string_view job, std::string_view first_number)> applied;
};

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();  // stop()
  Simulator(const Simulator &) = delete;
  Simulator &operator=(const Simulator &) = delete;

  // Listens on 127.0.0.1:port (0: a free port chosen by the system) and
  // starts serving.  Returns the bound port.  Throws std::system_error when
  // the port cannot be bound, std::logic_error when already started.
  uint16_t start(uint16_t port = 0);

  // Stops listening, closes every connection and joins every thread.
  // Harmless when not started; start() may be called again afterwards.
  void stop();

  // Closes every open connection now, as a server restart would; keeps
  // listening.  A client sees the close on its next read.
  void drop_all_connections();

  // The bound port, 0 when not started.
  uint16_t port() const;

  // Counters since construction, for tests and the demo.
  std::size_t connections_accepted() const;
  std::size_t logins_accepted() const;   // logins answered with 900 or 20900
  std::size_t records_answered() const;  // records and XML requests answered
  // Connections closed as soon as they were accepted: over max_per_peer,
  // or no thread could be made for them.
  std::size_t connections_refused() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::sim
