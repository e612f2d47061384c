// The simulator's platform side: the accounts, the per-connection session
// and the table of commands.  Nothing here knows about sockets or threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "record/command_record.h"
#include "simulator.h"

namespace qv::sim {

// What the platform knows about one connection.
struct Session {
  std::size_t id = 0;                // connection number, for the log
  const Account *account = nullptr;  // logged-in account; null before a login
  std::size_t answered = 0;          // records answered on this connection
};

// The data that every connection shares.  Callers serialise access.
class PlatformState {
 public:
  explicit PlatformState(const std::vector<Account> &accounts);

  Account *find_account(std::string_view name);
  std::size_t logins_accepted = 0;

 private:
  std::map<std::string, Account, std::less<>> accounts_;
};

// Answers one request.  `command` receives the command's name for the log
// ("?" for an unknown code).
record::CommandRecord answer(PlatformState &state, Session &session,
                             const record::CommandRecord &request,
                             std::string_view &command);

}  // namespace qv::sim
