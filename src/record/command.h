// A command of the record protocol is a declaration: its code, which
// argument goes into which field, what comes back into which output in
// which order, its failure message and its deviations from the ordinary
// exchange.  The exchange itself is written once (record/exchange.h).
#pragma once

#include <array>
#include <cstdint>

#include "common/fixed_texts.h"
#include "record/command_record.h"

namespace qv::record {

// Where a request field's content comes from: an input text, or an input
// number sent as decimal text.
// Text0SemicolonText1 is the login's body: Text0, ";", Text1.
enum class Input : uint8_t {
  Text0,
  Text1,
  Text2,
  Text3,
  Text4,
  Text0SemicolonText1,
  Number0,
  Number1,
  Number2
};
// Where a response value goes.
enum class Output : uint8_t { ResultCode, Message, Out0, Out1, Out2 };
enum class As : uint8_t { Code, Text, Number };

struct Put {
  Field field;
  Input from;
};

struct Take {
  As as;
  Field field;  // unused for As::Code
  Output to;
};

// Deviations from the ordinary exchange.
enum Option : uint16_t {
  kNoResultCode = 1 << 0,  // the command has no result-code argument
  kKeepAnswer = 1 << 1,    // the answer is kept for kKeptAnswer; 1 once the request is written
  kKeptAnswer = 1 << 2,    // hands back the answer kept for the calling thread, sends nothing
  kBodyLenZero = 1 << 3,   // Body text sent with BodyLen left 0
  kReloginBeforeMessage = 1 << 4,  // failure: relogin first, then the message
  kAppendErrorText = 1 << 5,       // failure message followed by the error's text
  kParam1WhenAccepted = 1 << 6,    // on 900 with Number2 == 0 the message gets Param1, not Body
  kConfirmNewPassword = 1 << 7,    // Text2 must equal Text3, else refused locally
  kSavePasswordOnAccept = 1 << 8,  // on 900 Text2 becomes the saved password
  kSaveCredentials = 1 << 9,       // Text0..Text4 become the saved login texts before the write
  kLoginAnswer = 1 << 10,          // the answer is the login's: the session notes its code
};

struct Command {
  int32_t code = 0;
  std::array<Put, 5> puts{};
  uint8_t put_count = 0;
  std::array<Take, 5> takes{};
  uint8_t take_count = 0;
  const text::FixedText *failure_message = nullptr;
  uint16_t options = 0;
  uint8_t secrets = 0;  // a bit per Field: request fields the trace masks

  constexpr Command put(Field f, Input from) const {
    Command c = *this;
    c.puts[c.put_count++] = {f, from};
    return c;
  }
  constexpr Command take_body() const { return take_text(Field::Body, Output::Message); }
  constexpr Command take_code() const {
    return with_take({As::Code, Field::Body, Output::ResultCode});
  }
  constexpr Command take_text(Field f, Output to) const { return with_take({As::Text, f, to}); }
  constexpr Command take_number(Field f, Output to) const { return with_take({As::Number, f, to}); }
  constexpr Command failure(const text::FixedText &message) const {
    Command c = *this;
    c.failure_message = &message;
    return c;
  }
  // A request field that carries a password: the trace shows it masked, in
  // its lines and in the hex dump.
  constexpr Command secret(Field f) const {
    Command c = *this;
    c.secrets = static_cast<uint8_t>(c.secrets | 1u << static_cast<unsigned>(f));
    return c;
  }
  constexpr bool is_secret(Field f) const { return (secrets >> static_cast<unsigned>(f)) & 1u; }
  constexpr Command option(uint16_t o) const {
    Command c = *this;
    c.options = static_cast<uint16_t>(c.options | o);
    return c;
  }
  constexpr bool has(Option o) const { return (options & o) != 0; }

 private:
  constexpr Command with_take(Take t) const {
    Command c = *this;
    c.takes[c.take_count++] = t;
    return c;
  }
};

constexpr Command command(int32_t code) {
  Command c;
  c.code = code;
  return c;
}

}  // namespace qv::record
