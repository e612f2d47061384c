// The caller's side of a record call: the arguments it passes, the checks
// that refuse a call before anything is sent, the request filled from its
// inputs and the answer handed back into its outputs.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "record/command.h"

namespace qv::record {

// The caller's arguments of one call.  Null texts count as empty.
struct Call {
  int32_t *result_code = nullptr;
  char *message = nullptr;
  std::array<void *, 3> outs{};  // char* for texts, int32_t* for numbers
  std::array<const char *, 5> texts{};
  std::array<int32_t, 3> numbers{};
  // Where each text stands among the export's arguments, 1-based, for the
  // host's last-outcome query: 0 follows the usual order (result code,
  // message, outputs, then the texts), -1 marks a text that is not the
  // caller's (a saved one).
  std::array<int8_t, 5> text_args{};
};

// An input text; a null one is empty.
std::string_view input_text(const Call &call, Input in);

// Whether every input text fits its field (a Body 2047 bytes, a Param 19).
bool texts_fit(const Command &cmd, const Call &call);
// The first put whose text does not fit its field, or null.
const Put *text_too_long(const Command &cmd, const Call &call);
// Whether the call may go out: every output that the command writes is
// there, the result code (if any) is set to -1, a new password matches its
// confirmation and every input text fits its field.  Otherwise the call is
// refused (its outcome recorded, the message written where the command has
// one) and false.
bool accept_arguments(const Command &cmd, const Call &call);
// Zeroed record filled from the command's puts.
void fill_request(const Command &cmd, const Call &call, CommandRecord &rec);
// The answer's fields copied into the caller's outputs in the command's
// order.  Throws Error for a number field that is not a number.
void hand_back(const Command &cmd, const Call &call, const CommandRecord &rec);

}  // namespace qv::record
