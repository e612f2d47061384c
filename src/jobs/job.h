// A send job as the host fills it, and how its last send ended.  The
// job's texts are GBK bytes that fit their fields: the setters refuse
// anything else, so that a send never finds a field it cannot put.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "connection/call_outcome.h"
#include "connection/session.h"
#include "quorvex.h"

namespace qv::jobs {

// The values are the header's QV_JOB_* statuses.
enum class Status : int32_t {
  None = 0,
  Submitted = 1,
  Refused = 2,
  Failed = 3,
  MaybeSubmitted = 4,
  Cancelled = 5,
};

inline constexpr int32_t kFieldCount = QV_JOB_PERIOD;
inline constexpr int32_t kEvidenceCount = QV_EVIDENCE_DETAILS_AFTER;

using Evidence = std::array<std::optional<std::string>, kEvidenceCount>;

struct Result {
  Status status = Status::None;
  int32_t step = 0;  // the request code of the call the send ended on
  int32_t attempts = 0;
  int32_t code = -1;
  std::string message;  // GBK, as the server sent it
  std::string job_number;
  int32_t recipients = 0;
  int32_t charged = 0;
  int32_t left = 0;
  connection::CallOutcome outcome;
  // The replies taken as evidence, by QV_EVIDENCE_* - 1; none when not
  // taken.
  Evidence evidence;
};

// What a send reads of the job, copied when it starts so that the host's
// threads never race the sender for it.
struct Content {
  std::array<std::string, kFieldCount + 1> texts;  // by QV_JOB_* field; [0] unused
  std::vector<std::string> numbers;
  std::string file;
  bool check = false;
  bool evidence = false;
  int32_t wait_ms = QV_JOB_WAIT_DEFAULT_MS;
};

struct Job {
  QvJob *handle = nullptr;  // what the host's callbacks are given

  std::mutex mutex;  // guards everything below but the flags
  Content content;
  QvJobProgress progress = nullptr;
  void *progress_context = nullptr;
  QvJobResolver resolver = nullptr;
  void *resolver_context = nullptr;
  Result result;
  // The session a send runs on, and whether a cancel interrupted its
  // waits (the sender ends that interrupt when it stops).
  connection::Session *sending_on = nullptr;
  bool interrupted = false;

  std::atomic<bool> sending{false};
  std::atomic<bool> cancelled{false};
};

// Asks the job's send to stop: the flag for the sender, and an interrupt
// of the session's waits for the call it may be blocked in.
void cancel(Job &job);

}  // namespace qv::jobs
