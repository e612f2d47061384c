// One export call of the CLI: the step's inputs converted for the library,
// the output buffers it needs, and the printing of what came back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
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

// A row of the export table: the export's name, its inputs in argument
// order, and an adapter that calls it with inputs and outputs from a Call.
struct ExportRow {
  std::string_view name;
  std::vector<Input> inputs;
  int32_t (*invoke)(Call &call);
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

  // For the adapters: inputs by index, outputs created on first use.
  const char *text(std::size_t input) const { return texts_.at(input).c_str(); }
  int32_t number(std::size_t input) const { return numbers_.at(input); }
  int32_t *code();
  char *message();
  char *param(std::size_t index, std::string_view name = {});
  int32_t *number_out(std::size_t index, std::string_view name);

  // After invoke(): the result code (when the export has one) and every
  // output, one per line, in the order code, message, Params, numbers.
  std::optional<int32_t> result_code() const { return code_; }
  void print_outputs(std::ostream &out) const;

 private:
  struct TextOut {
    std::string name;
    std::array<char, QV_PARAM_BUFFER_SIZE> bytes{};
  };
  struct NumberOut {
    std::string name;
    int32_t value = 0;
  };

  const ExportRow &row_;
  std::vector<std::string> texts_;  // GBK, per input index
  std::vector<int32_t> numbers_;    // per input index
  std::optional<int32_t> code_;
  std::optional<std::array<char, QV_BODY_BUFFER_SIZE>> message_;
  std::map<std::size_t, TextOut> params_;  // a map: addresses stay put
  std::map<std::size_t, NumberOut> number_outs_;
};

// The table of every export the CLI can call.
const std::vector<ExportRow> &export_table();
// The row of an export, by name in any letter case; null when unknown.
const ExportRow *find_export(std::string_view name);

}  // namespace qv::cli
