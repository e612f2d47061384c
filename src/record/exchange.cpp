#include "record/exchange.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <cstring>
#include <optional>
#include <string_view>

#include <cstdio>

#include "common/decimal.h"
#include "common/kept_replies.h"
#include "connection/client_context.h"
#include "connection/connect.h"
#include "connection/socket_errors.h"
#include "record/login.h"
#include "trace/trace.h"

namespace qv::record {
namespace {

using connection::Error;

constexpr size_t kMessageBufferSize = kBodySize + 1;

std::string_view input_text(const Call &call, Input in) {
  const char *t = call.texts[static_cast<size_t>(in)];
  return t ? std::string_view(t) : std::string_view();
}

// Text0 ";" Text1, the login's body.
std::string joined_text(const Call &call) {
  std::string body(input_text(call, Input::Text0));
  body.append(1, ';').append(input_text(call, Input::Text1));
  return body;
}

// An answer read by a kKeepAnswer command for the calling thread's
// kKeptAnswer command: the record, or the error that ended its read.
struct KeptAnswer {
  bool read = false;
  Error error{""};
  CommandRecord record;
};
KeptReplies<KeptAnswer> g_kept_answers;

bool is_number(Input in) { return in >= Input::Number0; }

void *output(const Call &call, Output to) {
  switch (to) {
    case Output::ResultCode: return call.result_code;
    case Output::Message: return call.message;
    case Output::Out0: return call.outs[0];
    case Output::Out1: return call.outs[1];
    case Output::Out2: return call.outs[2];
  }
  return nullptr;
}

// How many output arguments follow the message: the highest one taken.
int output_count(const Command &cmd) {
  int n = 0;
  for (uint8_t i = 0; i < cmd.take_count; ++i)
    if (cmd.takes[i].to >= Output::Out0) n = std::max(n, static_cast<int>(cmd.takes[i].to) - 1);
  return n;
}

// The argument's 1-based position in the export's list.
int argument_position(const Command &cmd, Output to) {
  return cmd.has(kNoResultCode) ? static_cast<int>(to) : static_cast<int>(to) + 1;
}

int argument_position(const Command &cmd, const Call &call, Input in) {
  const auto i = static_cast<size_t>(in == Input::Text0SemicolonText1 ? Input::Text0 : in);
  if (call.text_args[i] != 0) return std::max<int>(call.text_args[i], 0);
  return cmd.has(kNoResultCode) ? static_cast<int>(i) + 1 : 3 + output_count(cmd) + static_cast<int>(i);
}

std::string_view output_name(Output to) {
  switch (to) {
    case Output::ResultCode: return "the result code";
    case Output::Message: return "the message buffer";
    default: return "an output";
  }
}

void refuse_null(const Command &cmd, Output to) {
  char why[96];
  std::snprintf(why, sizeof why, "Argument %d (%.*s) is a null pointer.", argument_position(cmd, to),
                static_cast<int>(output_name(to).size()), output_name(to).data());
  connection::refuse(argument_position(cmd, to), why);
}

// Every output that the command writes must be there.
bool outputs_present(const Command &cmd, const Call &call) {
  if (!cmd.has(kNoResultCode) && !call.result_code) {
    refuse_null(cmd, Output::ResultCode);
    return false;
  }
  if (cmd.failure_message && !call.message) {
    refuse_null(cmd, Output::Message);
    return false;
  }
  for (uint8_t i = 0; i < cmd.take_count; ++i)
    if (!output(call, cmd.takes[i].to)) {
      refuse_null(cmd, cmd.takes[i].to);
      return false;
    }
  return true;
}

}  // namespace

bool texts_fit(const Command &cmd, const Call &call) { return text_too_long(cmd, call) == nullptr; }

const Put *text_too_long(const Command &cmd, const Call &call) {
  const auto length = [&](Input in, size_t limit) {
    const char *t = call.texts[static_cast<size_t>(in)];
    return t ? ::strnlen(t, limit + 1) : 0;
  };
  for (uint8_t i = 0; i < cmd.put_count; ++i) {
    const Put &p = cmd.puts[i];
    if (is_number(p.from)) continue;
    const size_t limit = max_text(p.field);
    const size_t n = p.from == Input::Text0SemicolonText1
                         ? length(Input::Text0, limit + 1) + 1 + length(Input::Text1, limit + 1)
                         : length(p.from, limit + 1);
    if (n > limit) return &p;
  }
  return nullptr;
}

void fill_request(const Command &cmd, const Call &call, CommandRecord &rec) {
  rec.set_code(cmd.code);
  for (uint8_t i = 0; i < cmd.put_count; ++i) {
    const Put &p = cmd.puts[i];
    if (is_number(p.from)) {
      char digits[12];
      const int32_t v = call.numbers[static_cast<size_t>(p.from) - static_cast<size_t>(Input::Number0)];
      const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
      rec.put_text(p.field, std::string_view(digits, static_cast<size_t>(end - digits)));
      continue;
    }
    const std::string joined = p.from == Input::Text0SemicolonText1 ? joined_text(call) : std::string();
    const std::string_view t = p.from == Input::Text0SemicolonText1 ? std::string_view(joined) : input_text(call, p.from);
    rec.put_text(p.field, t);
    if (p.field == Field::Body && !cmd.has(kBodyLenZero)) rec.set_body_len(static_cast<int32_t>(t.size()));
  }
}

namespace {

void copy_text(char *to, std::string_view text) {
  if (!text.empty()) std::memcpy(to, text.data(), text.size());
  to[text.size()] = '\0';
}

int32_t parse_number(std::string_view text) {
  int32_t v = 0;
  if (!parse_int32(text, v)) throw Error("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

void hand_back(const Command &cmd, const Call &call, const CommandRecord &rec) {
  for (uint8_t i = 0; i < cmd.take_count; ++i) {
    const Take &t = cmd.takes[i];
    void *to = output(call, t.to);
    switch (t.as) {
      case As::Code:
        *static_cast<int32_t *>(to) = rec.code();
        break;
      case As::Text: {
        Field f = t.field;
        if (cmd.has(kParam1WhenAccepted) && t.to == Output::Message && rec.code() == kAccepted &&
            call.numbers[2] == 0)
          f = Field::Param1;
        copy_text(static_cast<char *>(to), rec.text(f));
        break;
      }
      case As::Number:
        *static_cast<int32_t *>(to) = parse_number(rec.text(t.field));
        break;
    }
  }
}

connection::TcpClient &connection_or_throw() {
  auto &tcp = connection::context().tcp_client;
  if (!tcp)
    throw connection::not_initialised(text::kNotConnected);
  return *tcp;
}

void write_failure_message(const Command &cmd, const Call &call, std::string_view error) {
  if (!cmd.failure_message || !call.message) return;
  const connection::MessageBuffer out{call.message, kMessageBufferSize};
  out.write(cmd.failure_message->gbk, cmd.has(kAppendErrorText) ? error : std::string_view());
}

void failure_path(const Command &cmd, const Call &call, std::string_view error) {
  if (cmd.has(kReloginBeforeMessage)) {
    relogin_quietly();
    write_failure_message(cmd, call, error);
  } else {
    write_failure_message(cmd, call, error);
    relogin_quietly();
  }
}

}  // namespace

namespace {

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

void trace_answer(const CommandRecord &rec, int64_t start_us) {
  trace::event("record < " + describe(rec, nullptr, false) + " in " + trace::elapsed_since(start_us));
}

// The exchange's halves: the request written whole, and the answer read
// whole (start_us is when the request went out, for the trace).
void write_request(const Command &cmd, connection::TcpClient &tcp, const CommandRecord &rec) {
  // One look at the trace for the whole write: the dump, if any, is the
  // one whose masks were set here.
  trace::Outgoing out = trace::Outgoing::now();
  if (out.dump) mask_secrets(cmd, out);
  if (trace::on()) trace::event("record > " + describe(rec, &cmd, true));
  tcp.write(rec.data(), rec.size(), connection::operation_deadline(), out);
}

void read_answer(connection::TcpClient &tcp, CommandRecord &rec, int64_t start_us) {
  tcp.read_exact(rec.data(), rec.size());
  if (trace::on()) trace_answer(rec, start_us);
}

}  // namespace

void exchange(const Command &cmd, connection::TcpClient &tcp, CommandRecord &rec, bool *written) {
  const int64_t start = trace::on() ? trace::now_us() : 0;
  write_request(cmd, tcp, rec);
  if (written) *written = true;
  rec.clear();
  read_answer(tcp, rec, start);
}

namespace {

void save_credentials(const Call &call) {
  connection::context().login_credentials = {
      std::string(input_text(call, Input::Text0)), std::string(input_text(call, Input::Text1)),
      std::string(input_text(call, Input::Text2)), std::string(input_text(call, Input::Text3)),
      std::string(input_text(call, Input::Text4))};
}

// The answer kept for this thread on this connection, handed back as if
// just read.
bool hand_back_kept(const Command &cmd, const Call &call) {
  std::optional<KeptAnswer> kept;
  g_kept_answers.take(cmd.code, connection::current_connection(), [](const KeptAnswer &) { return true; }, kept);
  if (!kept) {
    // No request of this thread waits for it on this connection: nothing
    // to read, and no other thread's answer stands in for it.
    connection::refuse(0, "No answer is waiting for this call: its request was not sent on this thread and "
                          "connection, was answered already, or its connection has gone.");
    return false;
  }
  if (!kept->read) {
    connection::exchange_failed(kept->error, true);
    failure_path(cmd, call, kept->error.text());
    return false;
  }
  hand_back(cmd, call, kept->record);
  if (cmd.has(kLoginAnswer)) {
    const int32_t code = kept->record.code();
    connection::note_login(connection::LoginProtocol::Record, code, code == kAccepted);
  }
  return true;
}

// Writes the request and keeps the answer, or the error that ended its
// read, for the thread's next kKeptAnswer command.
bool write_and_keep(const Command &cmd, connection::TcpClient &tcp, CommandRecord &rec) {
  const int64_t start = trace::on() ? trace::now_us() : 0;
  write_request(cmd, tcp, rec);
  connection::mark_sent();
  KeptAnswer kept;
  try {
    read_answer(tcp, kept.record, start);
    kept.read = true;
  } catch (const Error &e) {
    kept.error = e;
  } catch (const std::exception &e) {
    kept.error = Error(e.what());
  }
  // A failed read has closed the connection: the failure is kept for the
  // state that followed it, and goes as soon as anything renews it.
  g_kept_answers.keep(cmd.code, tcp.generation(), std::move(kept));
  return true;
}

}  // namespace

bool execute(const Command &cmd, const Call &call) {
  // A new first call, even a refused one, ends what the last one kept.
  if (cmd.has(kKeepAnswer)) g_kept_answers.drop(cmd.code);
  if (!outputs_present(cmd, call)) return false;
  if (!cmd.has(kNoResultCode)) *call.result_code = -1;
  if (cmd.has(kConfirmNewPassword) && input_text(call, Input::Text2) != input_text(call, Input::Text3)) {
    copy_text(call.message, text::kPasswordsDiffer.gbk);
    const int position = argument_position(cmd, call, Input::Text3);
    char why[96];
    std::snprintf(why, sizeof why, "Argument %d differs from the new password.", position);
    connection::refuse(position, why);
    return false;
  }
  if (const Put *p = text_too_long(cmd, call)) {
    if (cmd.failure_message) copy_text(call.message, text::kTextTooLong.gbk);
    const int position = argument_position(cmd, call, p->from);
    char why[128];
    std::snprintf(why, sizeof why, "Argument %d is longer than its field holds (%zu bytes).", position,
                  max_text(p->field));
    connection::refuse(position, why);
    return false;
  }
  if (cmd.has(kKeptAnswer)) return hand_back_kept(cmd, call);

  CommandRecord rec;
  fill_request(cmd, call, rec);
  if (cmd.has(kSaveCredentials)) save_credentials(call);
  bool written = false;
  try {
    connection::TcpClient &tcp = connection_or_throw();
    if (cmd.has(kKeepAnswer)) return write_and_keep(cmd, tcp, rec);
    exchange(cmd, tcp, rec, &written);
    connection::mark_sent();
    hand_back(cmd, call, rec);
    if (cmd.has(kSavePasswordOnAccept) && rec.code() == kAccepted)
      connection::context().login_credentials.pwd = input_text(call, Input::Text2);
    return true;
  } catch (const Error &e) {
    connection::exchange_failed(e, written);
    failure_path(cmd, call, e.what());
    return false;
  } catch (const std::exception &e) {
    connection::exchange_failed(Error(e.what()), written);
    failure_path(cmd, call, e.what());
    return false;
  }
}

void forget_kept_answers() { g_kept_answers.clear(); }

void relogin_quietly() {
  try {
    relogin();
  } catch (...) {
  }
}

}  // namespace qv::record
