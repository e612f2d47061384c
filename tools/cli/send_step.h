// The send step: a whole send job from options, run as the export steps
// it stands for (SubmitAllClear, one step per field, the overall submit),
// each printed with the server's verdict.
#pragma once

#include <ostream>
#include <vector>

#include "steps.h"

namespace qv::cli {

// Whether a step is "send ..." (any letter case).
bool is_send_step(const Step &step);

class SendJobPlan {
 public:
  // Reads the options of a send step (see tools/cli/README.md) and plans
  // the export steps.  Throws StepError on a bad option, an unreadable
  // file, or a text that GBK cannot hold or that no field can hold.
  static SendJobPlan from_step(const Step &step);

  // Runs the planned steps, stopping at a call that returns 0.  The result
  // is 1 when the overall submit was accepted (900); its code is the code
  // of the overall submit (or of the call that returned 0).  Outputs are
  // those of the overall submit, plus "Refused": how many field steps the
  // server answered with another code than 900.
  StepResult run(std::ostream &out) const;

  const std::vector<Step> &steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

}  // namespace qv::cli
