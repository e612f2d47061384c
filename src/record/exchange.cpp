#include "record/exchange.h"

#include <string>

#include "connection/call_outcome.h"
#include "connection/connect.h"
#include "connection/socket_errors.h"
#include "record/kept_answers.h"
#include "record/login.h"
#include "trace/trace.h"

namespace qv::record {
namespace {

using connection::Error;

constexpr size_t kMessageBufferSize = kBodySize + 1;

connection::TcpClient &connection_or_throw(connection::Session &session) {
  // A call that reaches the connection while another thread disconnects
  // or destroys the session ends as the one blocked on it did.
  if (session.disconnect_requested()) throw connection::interrupted();
  auto &tcp = session.tcp_client;
  if (!tcp) throw connection::not_initialised(text::kNotConnected);
  return *tcp;
}

// "code 107 body(3) "abc" p1 "" p2 "***" p3 """: a record as the trace shows it.
std::string describe(const CommandRecord &rec, const Command *cmd, bool request) {
  const auto is_secret = [cmd](Field f) { return cmd && cmd->is_secret(f); };
  std::string out = "code " + std::to_string(rec.code());
  const std::string_view body = rec.text(Field::Body);
  out += request ? " body(" + std::to_string(rec.body_len()) + ") " : " body ";
  out += is_secret(Field::Body) ? std::string(trace::kMasked) : trace::quoted(body);
  const char *names[] = {" p1 ", " p2 ", " p3 "};
  for (Field f : {Field::Param1, Field::Param2, Field::Param3}) {
    out += names[static_cast<int>(f) - 1];
    out += is_secret(f) ? std::string(trace::kMasked) : trace::quoted(rec.text(f));
  }
  return out;
}

// The fields of the request that its dump masks.
void mask_secrets(const Command &cmd, trace::Outgoing &out) {
  for (Field f : {Field::Body, Field::Param1, Field::Param2, Field::Param3})
    if (cmd.is_secret(f)) out.mask(layout(f).offset, layout(f).size);
}

void save_credentials(connection::Session &session, const Call &call) {
  session.login_credentials = {
      std::string(input_text(call, Input::Text0)), std::string(input_text(call, Input::Text1)),
      std::string(input_text(call, Input::Text2)), std::string(input_text(call, Input::Text3)),
      std::string(input_text(call, Input::Text4))};
}

}  // namespace

void write_failure_message(const Command &cmd, const Call &call, std::string_view error) {
  if (!cmd.failure_message || !call.message) return;
  const connection::MessageBuffer out{call.message, kMessageBufferSize};
  out.write(cmd.failure_message->gbk, cmd.has(kAppendErrorText) ? error : std::string_view());
}

void write_request(const Command &cmd, connection::TcpClient &tcp, const CommandRecord &rec) {
  // One look at the trace for the whole write: the dump, if any, is the
  // one whose masks were set here.
  trace::Outgoing out = trace::Outgoing::now();
  if (out.dump) mask_secrets(cmd, out);
  trace::event_if_on([&] { return "record > " + describe(rec, &cmd, true); });
  tcp.write(rec.data(), rec.size(), out);
}

void read_answer(connection::TcpClient &tcp, CommandRecord &rec, int64_t start_us) {
  tcp.read_exact(rec.data(), rec.size());
  trace::event_if_on([&] {
    return "record < " + describe(rec, nullptr, false) + " in " + trace::elapsed_since(start_us);
  });
}

void failure_path(connection::Session &session, const Command &cmd, const Call &call,
                  std::string_view error) {
  if (cmd.has(kReloginBeforeMessage)) {
    relogin_quietly(session);
    write_failure_message(cmd, call, error);
  } else {
    write_failure_message(cmd, call, error);
    relogin_quietly(session);
  }
}

void exchange(const Command &cmd, connection::TcpClient &tcp, CommandRecord &rec, bool *written) {
  const int64_t start = trace::on() ? trace::now_us() : 0;
  write_request(cmd, tcp, rec);
  if (written) *written = true;
  rec.clear();
  read_answer(tcp, rec, start);
}

bool execute(connection::Session &session, const Command &cmd, const Call &call) {
  // A new first call, even a refused one, ends what the last one kept.
  if (cmd.has(kKeepAnswer)) drop_kept_answer(session, cmd.code);
  if (!accept_arguments(cmd, call)) return false;
  if (cmd.has(kKeptAnswer)) return hand_back_kept(session, cmd, call);

  CommandRecord rec;
  fill_request(cmd, call, rec);
  if (cmd.has(kSaveCredentials)) save_credentials(session, call);
  bool written = false;
  try {
    connection::TcpClient &tcp = connection_or_throw(session);
    if (cmd.has(kKeepAnswer)) return write_and_keep(session, cmd, tcp, rec);
    exchange(cmd, tcp, rec, &written);
    connection::mark_sent();
    hand_back(cmd, call, rec);
    if (cmd.has(kSavePasswordOnAccept) && rec.code() == kAccepted)
      session.login_credentials.pwd = input_text(call, Input::Text2);
    return true;
  } catch (const std::exception &e) {
    const Error error = connection::as_error(e);
    connection::exchange_failed(error, written);
    failure_path(session, cmd, call, error.what());
    return false;
  }
}

void relogin_quietly(connection::Session &session) {
  try {
    relogin(session);
  } catch (...) {
  }
}

}  // namespace qv::record
