// A send as a list of record commands: the clear, every field the job
// has, the submit.  Long texts (the numbers, the file) are spread over as
// many calls of their command as they take.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job.h"
#include "record/command.h"

namespace qv::jobs {

struct Step {
  const record::Command *command = nullptr;
  const char *name = "";  // the export's, as the trace shows it
  std::array<std::string, 3> texts;
  int32_t number = 0;  // LastDetails' row count
  bool submit = false;

  int32_t code() const { return command->code; }
};

// The plan of a job, or the reason it cannot be sent (no product, no
// numbers).
struct Plan {
  std::vector<Step> steps;
  std::optional<std::string> refused;
};
Plan make_plan(const Content &job);

// The look-ups that make the evidence: AllInfoPackId, and LastDetails of
// the number for QV_JOB_LOOKUP_ROWS rows.
Step packages_lookup();
Step details_lookup(const std::string &number);

// A field's text checked and made GBK: nullopt with why filled when it
// does not fit (UTF-8 that is invalid or holds what GBK lacks, a zero
// byte, longer than the field).
std::optional<std::string> field_text(int32_t field, std::string_view text, int32_t encoding,
                                      std::string &why);
// A recipient's number checked: empty when it fits, else why.
std::string number_problem(std::string_view number);

std::string base64(std::string_view bytes);

}  // namespace qv::jobs
