/* Quorvex: the send-job helper of the C++ interface.  Included by
 * quorvex.hpp; include that instead.
 *
 * quorvex::send_job sends a whole job on a session: SubmitAllClear, every
 * field the job names, then the submit, and follows the recovery rules of
 * the README's "Sending a job": a call that failed is never sent again on
 * its own; when the relogin after it logged in, the whole job starts again
 * from SubmitAllClear (while attempts remain); a submit that failed after
 * its request was out may have been accepted and is never sent again. */
#ifndef QUORVEX_JOB_HPP
#define QUORVEX_JOB_HPP

#ifndef QUORVEX_HPP
#error "include quorvex.hpp, which includes this file"
#endif

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// A send job.  Texts are GBK bytes; an empty text is a field not sent.
struct Job {
  std::string product;               // required
  std::vector<std::string> numbers;  // the recipients; at least one
  std::string content;
  std::string url;  // a push message's URL
  std::string begin_date, end_date, begin_time, end_time;
  std::string file_name;            // a multimedia message's file, with its
  std::string file_content;         // bytes, sent base64-encoded in parts
  std::vector<std::string> orders;  // up to 3 scheduled orders
  std::string period;               // a scheduled job's period
  bool check = false;               // also CheckPrdId and CheckContent
};

enum class JobStatus {
  Submitted,       // the submit answered 900: the job is the server's
  Refused,         // a call answered another code: not submitted
  Failed,          // a call failed before the job could be submitted
  MaybeSubmitted,  // the submit failed with its request out: look it up
};

struct JobResult {
  JobStatus status = JobStatus::Failed;
  std::string step;     // the export the job ended on ("SubmitTelList")
  int attempts = 0;     // how many times the job was started
  int32_t code = -1;    // that call's code
  std::string message;  // and its message (GBK)
  Outcome outcome;      // and its outcome
  // Submitted: the job's number (the submit's message) and its numbers:
  // recipients, messages charged, and what is left to send with.
  std::string job_number;
  int32_t recipients = 0, charged = 0, left = 0;
  // MaybeSubmitted: what to look up before the job is sent again.
  std::string look_up;

  bool submitted() const noexcept { return status == JobStatus::Submitted; }
};

// Called before each call of the job with the attempt (1, 2, ...) and the
// export's name.
using JobProgress = std::function<void(int attempt, const char *step)>;

namespace detail {

inline constexpr size_t kBodyMax = QV_BODY_BUFFER_SIZE - 2;    // 2047
inline constexpr size_t kParamMax = QV_PARAM_BUFFER_SIZE - 2;  // 19
inline constexpr size_t kBase64PartMax = kBodyMax / 4 * 4;

inline void require_fits(std::string_view text, size_t max, const char *what) {
  if (text.find('\0') != std::string_view::npos)
    throw std::invalid_argument(std::string("send_job: ") + what +
                                " holds a zero byte");
  if (text.size() > max)
    throw std::invalid_argument(std::string("send_job: ") + what +
                                " is longer than " + std::to_string(max) +
                                " bytes");
}

inline std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    for (size_t k = 0; k < 4; ++k)
      out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// The numbers joined by "," in parts that each fit one record's body.
inline std::vector<std::string> number_parts(
    const std::vector<std::string> &numbers) {
  std::vector<std::string> parts(1);
  for (const std::string &number : numbers) {
    require_fits(number, kBodyMax, "a number");
    if (number.empty() || number.find(',') != std::string::npos)
      throw std::invalid_argument(
          "send_job: a number is empty or holds a comma");
    if (!parts.back().empty() &&
        parts.back().size() + 1 + number.size() > kBodyMax)
      parts.emplace_back();
    if (!parts.back().empty()) parts.back() += ',';
    parts.back() += number;
  }
  return parts;
}

// One call of a job: what the session's method handed back.
struct JobCall {
  bool ok = false;
  int32_t code = -1;
  std::string message;
  Outcome outcome;
  int32_t numbers[3] = {0, 0, 0};
};

template <class R>
JobCall job_call(R &&r) {
  JobCall c;
  c.ok = r.ok;
  c.code = r.code;
  c.message = std::move(r.message);
  c.outcome = std::move(r.outcome);
  return c;
}

struct JobStep {
  const char *name;
  std::function<JobCall(SessionView &)> run;
};

inline std::vector<JobStep> job_plan(const Job &job) {
  require_fits(job.product, kBodyMax, "the product");
  if (job.product.empty())
    throw std::invalid_argument("send_job: the job names no product");
  if (job.numbers.empty())
    throw std::invalid_argument("send_job: the job has no numbers");
  if (job.orders.size() > 3)
    throw std::invalid_argument("send_job: more than 3 orders");
  for (const std::string &order : job.orders)
    require_fits(order, kParamMax, "an order");
  std::vector<JobStep> plan;
  const auto text = [&plan](const char *name, const std::string &value,
                            Result<> (SessionView::*method)(std::string_view)) {
    require_fits(value, kBodyMax, name);
    if (value.empty()) return;
    plan.push_back({name, [value, method](SessionView &s) {
                      return job_call((s.*method)(value));
                    }});
  };
  const auto bare = [&plan](const char *name,
                            Result<> (SessionView::*method)()) {
    plan.push_back(
        {name, [method](SessionView &s) { return job_call((s.*method)()); }});
  };
  bare("SubmitAllClear", &SessionView::SubmitAllClear);
  text("SubmitPrdId", job.product, &SessionView::SubmitPrdId);
  if (job.check) text("CheckPrdId", job.product, &SessionView::CheckPrdId);
  for (const std::string &part : number_parts(job.numbers))
    text("SubmitTelList", part, &SessionView::SubmitTelList);
  text("SubmitTelNum", std::to_string(job.numbers.size()),
       &SessionView::SubmitTelNum);
  text("SubmitContent", job.content, &SessionView::SubmitContent);
  if (job.check) bare("CheckContent", &SessionView::CheckContent);
  text("SubmitPushURL", job.url, &SessionView::SubmitPushURL);
  text("SubmitBgnDate", job.begin_date, &SessionView::SubmitBgnDate);
  text("SubmitEndDate", job.end_date, &SessionView::SubmitEndDate);
  text("SubmitBgnTime", job.begin_time, &SessionView::SubmitBgnTime);
  text("SubmitEndTime", job.end_time, &SessionView::SubmitEndTime);
  text("SubmitTransFilename", job.file_name, &SessionView::SubmitTransFilename);
  const std::string encoded = base64(job.file_content);
  for (size_t at = 0; at < encoded.size(); at += kBase64PartMax)
    text("SubmitTransFile", encoded.substr(at, kBase64PartMax),
         &SessionView::SubmitTransFile);
  if (!job.orders.empty()) {
    std::vector<std::string> o = job.orders;
    o.resize(3);
    plan.push_back({"SubmitPQOrderSelect", [o](SessionView &s) {
                      return job_call(s.SubmitPQOrderSelect(o[0], o[1], o[2]));
                    }});
  }
  text("SubmitBgnDateEx", job.period, &SessionView::SubmitBgnDateEx);
  const bool scheduled = !job.orders.empty() || !job.period.empty();
  const auto submit = [](auto &&r) {
    JobCall c = job_call(r);
    c.numbers[0] = r.Number1;
    c.numbers[1] = r.Number2;
    c.numbers[2] = r.Number3;
    return c;
  };
  if (scheduled)
    plan.push_back({"SubmitAllOverEx_2", [submit](SessionView &s) {
                      return submit(s.SubmitAllOverEx_2());
                    }});
  else
    plan.push_back({"SubmitAllOver_2", [submit](SessionView &s) {
                      return submit(s.SubmitAllOver_2());
                    }});
  return plan;
}

inline JobResult job_ended(JobStatus status, const char *step, int attempt,
                           JobCall &&c) {
  JobResult r;
  r.status = status;
  r.step = step;
  r.attempts = attempt;
  r.code = c.code;
  r.message = std::move(c.message);
  r.outcome = std::move(c.outcome);
  return r;
}

}  // namespace detail

// Sends the job on the session as the header comment above says.  A job
// that does not fit (no product or numbers, a text too long for its field
// or holding a zero byte, more than 3 orders) throws std::invalid_argument
// before any call.
inline JobResult send_job(SessionView &session, const Job &job,
                          int attempts = 2, const JobProgress &progress = {}) {
  const std::vector<detail::JobStep> plan = detail::job_plan(job);
  JobResult last;
  for (int attempt = 1;; ++attempt) {
    bool again = false;
    for (const detail::JobStep &step : plan) {
      if (progress) progress(attempt, step.name);
      detail::JobCall c = step.run(session);
      const bool submit = &step == &plan.back();
      if (!c.ok) {
        if (submit && c.outcome.sent) {
          JobResult r = detail::job_ended(JobStatus::MaybeSubmitted, step.name,
                                          attempt, std::move(c));
          r.look_up = "LastDetails with the first number (" +
                      job.numbers.front() +
                      "), or AllInfoPackId and InfoPackStatus";
          return r;
        }
        again = attempt < attempts &&
                session.last_relogin().kind == QV_RELOGIN_LOGGED_IN;
        last = detail::job_ended(JobStatus::Failed, step.name, attempt,
                                 std::move(c));
        break;
      }
      if (c.code != QV_CODE_ACCEPTED)
        return detail::job_ended(JobStatus::Refused, step.name, attempt,
                                 std::move(c));
      if (submit) {
        JobResult r = detail::job_ended(JobStatus::Submitted, step.name,
                                        attempt, detail::JobCall(c));
        r.job_number = r.message;
        r.recipients = c.numbers[0];
        r.charged = c.numbers[1];
        r.left = c.numbers[2];
        return r;
      }
    }
    if (!again) return last;
  }
}

}  // namespace quorvex

#endif  // QUORVEX_JOB_HPP
