// One export call of the CLI: the step's inputs converted for the library,
// the output buffers it needs, and the printing of what came back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <quorvex.h>

namespace qv::cli {

class Call;

enum class InputKind { Text, Number };

struct Input {
  std::string_view name;
  InputKind kind;
};

// What an export's return value is: a success flag (1 or 0; 0 makes
// `call` and `run` exit with 1) or a plain value (CheckTels' class).
enum class ResultKind { Success, Value };

// A row of the export table: the export's name, its inputs in argument
// order, and an adapter that calls it with inputs and outputs from a Call.
struct ExportRow {
  std::string_view name;
  std::vector<Input> inputs;
  int32_t (*invoke)(Call &call);
  ResultKind result = ResultKind::Success;
};

// A step that cannot run: unknown export, too many inputs, a bad number,
// a text that GBK cannot hold.
struct StepError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Call {
 public:
  // Converts args (UTF-8 as typed) to the row's inputs; missing trailing
  // inputs are empty texts or 0.  Throws StepError.
  Call(const ExportRow &row, const std::vector<std::string> &args);
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  int32_t invoke() { return row_.invoke(*this); }
  const ExportRow &row() const { return row_; }

  // For the adapters: inputs by index, and whether the step gave one.
  const char *text(std::size_t input) const { return texts_.at(input).c_str(); }
  int32_t number(std::size_t input) const { return numbers_.at(input); }
  bool given(std::size_t input) const { return input < given_; }
  // A text input laid out as CheckTels takes it: its length as an int32 in
  // the four bytes before its first byte.
  const char *length_prefixed(std::size_t input);

  // Outputs, created on first use and zero-filled (a buffer over 64 KiB
  // only has its first byte zeroed).
  int32_t *code();
  char *message(std::size_t size = QV_BODY_BUFFER_SIZE, std::string_view name = "Message");
  char *param(std::size_t index, std::string_view name = {});  // QV_PARAM_BUFFER_SIZE bytes
  char *text_out(std::size_t index, std::string_view name, std::size_t size);
  int32_t *number_out(std::size_t index, std::string_view name);
  // A line printed before the outputs, saying what the CLI filled in.
  void note(std::string text) { notes_.push_back(std::move(text)); }

  // After invoke(): the result code (when the export has one) and every
  // output, one per line, in the order code, message, texts, numbers.
  std::optional<int32_t> result_code() const { return code_; }
  void print_outputs(std::ostream &out) const;
  // Every output by name: texts as their GBK bytes, numbers in decimal.
  std::map<std::string, std::string> outputs() const;

 private:
  struct TextOut {
    std::string name;
    std::size_t size = 0;
    std::unique_ptr<char[]> bytes;
    std::string_view text() const;
  };
  struct NumberOut {
    std::string name;
    int32_t value = 0;
  };

  static TextOut make_text_out(std::string_view name, std::size_t size);

  const ExportRow &row_;
  std::vector<std::string> texts_;  // GBK, per input index
  std::vector<int32_t> numbers_;    // per input index
  std::size_t given_ = 0;           // inputs the step gave
  std::map<std::size_t, std::vector<char>> prefixed_;
  std::optional<int32_t> code_;
  std::optional<TextOut> message_;
  std::map<std::size_t, TextOut> texts_out_;  // maps: addresses stay put
  std::map<std::size_t, NumberOut> number_outs_;
  std::vector<std::string> notes_;
};

// GetLastOutcome's kinds by number (QV_OUTCOME_OK = 0 ... QV_OUTCOME_CANCELLED
// = 9), and one more for a kind that this host does not know.
inline constexpr std::array<const char *, 11> kOutcomeNames = {
    "ok",       "refused",       "not initialised", "not connected", "connect failed",
    "not sent", "maybe applied", "timed out",       "failed",        "cancelled",
    "other"};

// The place of an outcome's kind in kOutcomeNames.
inline std::size_t outcome_index(int32_t outcome) {
  return outcome >= 0 && static_cast<std::size_t>(outcome) < kOutcomeNames.size() - 1
             ? static_cast<std::size_t>(outcome)
             : kOutcomeNames.size() - 1;
}

// The table of every export the CLI can call.
const std::vector<ExportRow> &export_table();
// The row of an export, by name in any letter case; null when unknown.
const ExportRow *find_export(std::string_view name);

}  // namespace qv::cli
