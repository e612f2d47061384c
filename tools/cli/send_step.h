// The send step: a whole send job from options, handed to the library's
// sender (QvSendJob) on the default session, with each call it makes and
// how the job ended.
#pragma once

#include <quorvex.h>

#include <memory>
#include <ostream>

#include "steps.h"

namespace qv::cli {

// Whether a step is "send ..." (any letter case).
bool is_send_step(const Step &step);

class SendStep {
 public:
  // Reads the options of a send step (see tools/cli/README.md) into a job.
  // Throws StepError on a bad option, an unreadable file, or a text that
  // the library refuses for its field (not UTF-8, a character GBK lacks,
  // too long).
  static SendStep from_step(const Step &step);

  // Sends the job, printing each call the sender makes and then how the
  // job ended.  The result is 1 when the job ended submitted; its code is
  // the code of the call it ended on.  Outputs: Status, Step, Attempts,
  // Message, JobNumber, Recipients, Charged, Left, Outcome, and the
  // evidence that was taken (PackagesBefore, DetailsBefore, PackagesAfter,
  // DetailsAfter).
  StepResult run(std::ostream &out) const;

  // The job the options made, for another use than a send (a journal's add).
  QvJob *job() const { return job_.get(); }

 private:
  struct JobDeleter {
    void operator()(QvJob *job) const { QvJobDestroy(job); }
  };
  std::unique_ptr<QvJob, JobDeleter> job_;
  int attempts_ = 2;
  bool sim_resolver_ = false;
};

}  // namespace qv::cli
