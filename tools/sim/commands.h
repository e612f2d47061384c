// The simulator's platform side: the per-connection session, the command
// table of the record protocol and the answers of the XML protocol.
// Nothing here knows about sockets or threads; callers hold the state lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform_state.h"
#include "record/command_record.h"

namespace qv::sim {

// What the platform knows about one connection.
struct Session {
  std::size_t id = 0;               // connection number, for the log
  AccountState *account = nullptr;  // logged-in account; null before a login
  std::size_t answered = 0;         // requests answered on this connection
  int32_t next_transfer_part = 1;   // Transfer (140): the part it answers next
};

// Answers one record.  `command` receives the command's name for the log
// ("?" for an unknown code).
record::CommandRecord answer(PlatformState &state, Session &session,
                             const record::CommandRecord &request, std::string_view &command);

// An XML-protocol reply: its header code and its body.
struct FxReply {
  int32_t code = 0;
  std::string body;
};

// Answers one XML-protocol request (its header code and body).
FxReply answer_fx(PlatformState &state, Session &session, int32_t code, std::string_view body,
                  std::string_view &command);

}  // namespace qv::sim
