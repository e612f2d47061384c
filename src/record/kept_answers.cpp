#include "record/kept_answers.h"

#include <optional>
#include <utility>

#include "common/kept_replies.h"
#include "connection/call_outcome.h"
#include "connection/socket_errors.h"
#include "record/exchange.h"
#include "record/login.h"
#include "trace/trace.h"

namespace qv::record {
namespace {

using connection::Error;

// An answer read by a kKeepAnswer command for the calling thread's
// kKeptAnswer command: the record, or the error that ended its read.
struct KeptAnswer {
  bool read = false;
  Error error{""};
  CommandRecord record;
};

// The session's kept answers.
struct KeptAnswers final : connection::KeptStore {
  KeptReplies<KeptAnswer> answers;
  void clear() override { answers.clear(); }
};

KeptReplies<KeptAnswer> &kept_answers(connection::Session &session) {
  return connection::Session::kept<KeptAnswers>(session.kept_answers).answers;
}

}  // namespace

void drop_kept_answer(connection::Session &session, int32_t code) {
  kept_answers(session).drop(code);
}

bool hand_back_kept(connection::Session &session, const Command &cmd, const Call &call) {
  std::optional<KeptAnswer> kept;
  if (session.disconnect_requested()) {
    // A disconnect or a destroy from another thread is under way: the
    // answer's connection is going, and the call ends as a read it ended.
    kept.emplace();
    kept->error = connection::interrupted();
  } else {
    kept_answers(session).take(
        cmd.code, session.current_connection(), [](const KeptAnswer &) { return true; }, kept);
  }
  if (!kept) {
    // No request of this thread waits for it on this connection: nothing
    // to read, and no other thread's answer stands in for it.
    connection::refuse(
        0,
        "No answer is waiting for this call: its request was not sent on this thread and "
        "connection, was answered already, or its connection has gone.");
    write_failure_message(cmd, call, {});
    return false;
  }
  if (!kept->read) {
    connection::exchange_failed(kept->error, true);
    failure_path(session, cmd, call, kept->error.text());
    return false;
  }
  hand_back(cmd, call, kept->record);
  if (cmd.has(kLoginAnswer)) {
    const int32_t code = kept->record.code();
    session.note_login(connection::LoginProtocol::Record, code, code == kAccepted);
  }
  return true;
}

bool write_and_keep(connection::Session &session, const Command &cmd, connection::TcpClient &tcp,
                    CommandRecord &rec) {
  const int64_t start = trace::on() ? trace::now_us() : 0;
  write_request(cmd, tcp, rec);
  connection::mark_sent();
  KeptAnswer kept;
  try {
    read_answer(tcp, kept.record, start);
    kept.read = true;
  } catch (const std::exception &e) {
    kept.error = connection::as_error(e);
  }
  // A failed read has closed the connection: the failure is kept for the
  // state that followed it, and goes as soon as anything renews it.
  kept_answers(session).keep(cmd.code, tcp.generation(), std::move(kept));
  return true;
}

}  // namespace qv::record
