#include "record/exchange.h"

#include <charconv>
#include <string>
#include <cstring>
#include <string_view>

#include "common/decimal.h"
#include "connection/client_context.h"
#include "connection/connect.h"
#include "connection/socket_errors.h"

namespace qv::record {
namespace {

using connection::Error;

constexpr size_t kMessageBufferSize = kBodySize + 1;

std::string_view input_text(const Call &call, Input in) {
  const char *t = call.texts[static_cast<size_t>(in)];
  return t ? std::string_view(t) : std::string_view();
}

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

// Every output that the command writes must be there.
bool outputs_present(const Command &cmd, const Call &call) {
  if (!cmd.has(kNoResultCode) && !call.result_code) return false;
  if (cmd.failure_message && !call.message) return false;
  for (uint8_t i = 0; i < cmd.take_count; ++i)
    if (!output(call, cmd.takes[i].to)) return false;
  return true;
}

bool texts_fit(const Command &cmd, const Call &call) {
  for (uint8_t i = 0; i < cmd.put_count; ++i) {
    const Put &p = cmd.puts[i];
    if (is_number(p.from)) continue;
    const char *t = call.texts[static_cast<size_t>(p.from)];
    const size_t limit = max_text(p.field);
    if (t && ::strnlen(t, limit + 1) > limit) return false;
  }
  return true;
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
    const std::string_view t = input_text(call, p.from);
    rec.put_text(p.field, t);
    if (p.field == Field::Body && !cmd.has(kBodyLenZero)) rec.set_body_len(static_cast<int32_t>(t.size()));
  }
}

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
        if (cmd.has(kParam1WhenAccepted) && t.to == Output::Message && rec.code() == 900 &&
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
  if (!tcp) throw Error(std::string(text::kNotConnected));
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

bool execute(const Command &cmd, const Call &call) {
  if (!outputs_present(cmd, call)) return false;
  if (!cmd.has(kNoResultCode)) *call.result_code = -1;
  if (cmd.has(kConfirmNewPassword) && input_text(call, Input::Text2) != input_text(call, Input::Text3)) {
    copy_text(call.message, text::kPasswordsDiffer.gbk);
    return false;
  }
  if (!texts_fit(cmd, call)) {
    if (cmd.failure_message) copy_text(call.message, text::kTextTooLong.gbk);
    return false;
  }

  CommandRecord rec;
  try {
    connection::TcpClient &tcp = connection_or_throw();
    if (!cmd.has(kReadOnly)) {
      fill_request(cmd, call, rec);
      tcp.write(rec.data(), rec.size());
      rec.clear();
    }
    if (!cmd.has(kWriteOnly)) {
      tcp.read_exact(rec.data(), rec.size());
      hand_back(cmd, call, rec);
      if (cmd.has(kSavePasswordOnAccept) && rec.code() == 900)
        connection::context().login_credentials.pwd = input_text(call, Input::Text2);
    }
    return true;
  } catch (const std::exception &e) {
    failure_path(cmd, call, e.what());
    return false;
  }
}

void relogin_quietly() {
  try {
    relogin();
  } catch (...) {
  }
}

}  // namespace qv::record
