#include "jobs/job.h"

#include "jobs/account_locks.h"

namespace qv::jobs {

void cancel(Job &job) {
  job.cancelled.store(true);
  {
    const std::lock_guard<std::mutex> lock(job.mutex);
    if (job.sending_on && !job.interrupted) {
      job.sending_on->waits.request_interrupt();
      job.interrupted = true;
    }
  }
  account_locks().wake();
}

}  // namespace qv::jobs
