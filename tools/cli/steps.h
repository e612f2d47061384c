// Steps: an export's name followed by its inputs, as the user wrote them
// (UTF-8).  Parsing them from the command line or a script, and running them.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qv::cli {

using Step = std::vector<std::string>;

// Splits command-line words into steps at every "--".  Empty steps are
// dropped.
std::vector<Step> steps_from_words(const std::vector<std::string> &words);

// Reads a script: one step per line; words separated by blanks; "..." with
// the escapes \" \\ \n \r \t, '...' taken literally, a backslash outside
// quotes escapes the next character; '#' at the start of a word begins a
// comment.  Throws StepError naming the line of a bad quote.
std::vector<Step> steps_from_script(std::istream &in, const std::string &source);

// Throws StepError for the first step that cannot run (unknown export,
// too many inputs, a bad number, a text GBK cannot hold, a bad send
// option).
void check_steps(const std::vector<Step> &steps);

struct StepResult {
  int32_t result = 0;
  std::optional<int32_t> code;  // for exports with a result code
  bool failed = false;          // a success flag of 0 (not a plain value)
  // Every output by name: texts as their GBK bytes, numbers in decimal.
  std::map<std::string, std::string> outputs;
};

// Calls the step's export (or runs a send step) and prints the call, its
// result, its result code and its outputs.  Throws StepError when the step
// cannot run.
StepResult run_step(const Step &step, std::ostream &out);

// Checks then runs every step.  Returns the exit status: 0 when no step
// failed (a call returned 0, a send job was not accepted), 1 otherwise.
int run_steps(const std::vector<Step> &steps, std::ostream &out);

}  // namespace qv::cli
