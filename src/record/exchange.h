// The exchange of the record protocol, written once: every command and the
// relogin write their request and read the answer through it, and a
// failure takes one path (the failure message, the relogin).
#pragma once

#include <cstdint>
#include <string_view>

#include "connection/session.h"
#include "connection/tcp_client.h"
#include "record/arguments.h"
#include "record/command.h"
#include "record/command_record.h"

namespace qv::record {

// The exchange itself, the one every command and the relogin run: writes
// the request of command, then reads the answer into the same record.
// Throws Error; a failure has closed the connection.  *written turns true
// once the whole request is out.
void exchange(const Command &cmd, connection::TcpClient &tcp, CommandRecord &rec,
              bool *written = nullptr);

// Runs one exchange on the session.  Returns true when a response arrived
// and was handed over; false on refused arguments or after the failure
// path.
bool execute(connection::Session &session, const Command &cmd, const Call &call);

// Runs the session's relogin and ignores its outcome.
void relogin_quietly(connection::Session &session);

// The exchange's halves and its failure path, shared with the kept
// answers: the request written whole (its secret fields masked in the
// trace), the answer read whole (start_us is when the request went out,
// for the trace), and the failure message and relogin of a failed call.
void write_request(const Command &cmd, connection::TcpClient &tcp, const CommandRecord &rec);
void read_answer(connection::TcpClient &tcp, CommandRecord &rec, int64_t start_us);
void failure_path(connection::Session &session, const Command &cmd, const Call &call,
                  std::string_view error);
// The command's failure message alone, where it has one and the caller a
// buffer.
void write_failure_message(const Command &cmd, const Call &call, std::string_view error);

}  // namespace qv::record
