#include "record/arguments.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/decimal.h"
#include "connection/call_outcome.h"
#include "connection/socket_errors.h"
#include "record/login.h"

namespace qv::record {
namespace {

using connection::Error;

// Text0 ";" Text1, the login's body.
std::string joined_text(const Call &call) {
  std::string body(input_text(call, Input::Text0));
  body.append(1, ';').append(input_text(call, Input::Text1));
  return body;
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
  return cmd.has(kNoResultCode) ? static_cast<int>(i) + 1
                                : 3 + output_count(cmd) + static_cast<int>(i);
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
  std::snprintf(why, sizeof why, "Argument %d (%.*s) is a null pointer.",
                argument_position(cmd, to), static_cast<int>(output_name(to).size()),
                output_name(to).data());
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

void copy_text(char *to, std::string_view text) {
  if (!text.empty()) std::memcpy(to, text.data(), text.size());
  to[text.size()] = '\0';
}

int32_t parse_number(std::string_view text) {
  int32_t v = 0;
  if (!parse_int32(text, v))
    throw Error("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

}  // namespace

std::string_view input_text(const Call &call, Input in) {
  const char *t = call.texts[static_cast<size_t>(in)];
  return t ? std::string_view(t) : std::string_view();
}

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
      const int32_t v =
          call.numbers[static_cast<size_t>(p.from) - static_cast<size_t>(Input::Number0)];
      const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
      rec.put_text(p.field, std::string_view(digits, static_cast<size_t>(end - digits)));
      continue;
    }
    const std::string joined =
        p.from == Input::Text0SemicolonText1 ? joined_text(call) : std::string();
    const std::string_view t =
        p.from == Input::Text0SemicolonText1 ? std::string_view(joined) : input_text(call, p.from);
    rec.put_text(p.field, t);
    if (p.field == Field::Body && !cmd.has(kBodyLenZero))
      rec.set_body_len(static_cast<int32_t>(t.size()));
  }
}

bool accept_arguments(const Command &cmd, const Call &call) {
  if (!outputs_present(cmd, call)) return false;
  if (!cmd.has(kNoResultCode)) *call.result_code = -1;
  if (cmd.has(kConfirmNewPassword) &&
      input_text(call, Input::Text2) != input_text(call, Input::Text3)) {
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
    std::snprintf(why, sizeof why, "Argument %d is longer than its field holds (%zu bytes).",
                  position, max_text(p->field));
    connection::refuse(position, why);
    return false;
  }
  return true;
}

void hand_back(const Command &cmd, const Call &call, const CommandRecord &rec) {
  for (uint8_t i = 0; i < cmd.take_count; ++i) {
    const Take &t = cmd.takes[i];
    void *to = output(call, t.to);
    switch (t.as) {
      case As::Code: *static_cast<int32_t *>(to) = rec.code(); break;
      case As::Text: {
        Field f = t.field;
        if (cmd.has(kParam1WhenAccepted) && t.to == Output::Message && rec.code() == kAccepted &&
            call.numbers[2] == 0)
          f = Field::Param1;
        copy_text(static_cast<char *>(to), rec.text(f));
        break;
      }
      case As::Number: *static_cast<int32_t *>(to) = parse_number(rec.text(t.field)); break;
    }
  }
}

}  // namespace qv::record
