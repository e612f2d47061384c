// What the first call of a record pair keeps for the second
// (Login_Request for Login_Feedback): the answer it read, or the error that
// ended its read, for the calling thread on the session and connection it
// was read on (common/kept_replies.h).
#pragma once

#include <cstdint>

#include "connection/session.h"
#include "connection/tcp_client.h"
#include "record/arguments.h"
#include "record/command.h"
#include "record/command_record.h"

namespace qv::record {

// Ends what the calling thread's last first call of code kept.
void drop_kept_answer(connection::Session &session, int32_t code);
// Writes the request and keeps the answer, or the error that ended its
// read, for the thread's next kKeptAnswer command.  True once the request
// is written.
bool write_and_keep(connection::Session &session, const Command &cmd, connection::TcpClient &tcp,
                    CommandRecord &rec);
// The answer kept for this thread on this session's connection, handed
// back as if just read; refused when there is none.
bool hand_back_kept(connection::Session &session, const Command &cmd, const Call &call);

}  // namespace qv::record
