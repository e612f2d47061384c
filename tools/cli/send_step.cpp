#include "send_step.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "call.h"
#include "sim_resolver.h"
#include "text_codec.h"

namespace qv::cli {

namespace {

constexpr int kMaxAttempts = 100;

// The options that set a text field of the job.
struct TextOption {
  std::string_view option;
  int32_t field;
};
constexpr std::array<TextOption, 8> kTextOptions = {{
    {"--product", QV_JOB_PRODUCT},
    {"--content", QV_JOB_CONTENT},
    {"--url", QV_JOB_PUSH_URL},
    {"--begin-date", QV_JOB_BEGIN_DATE},
    {"--end-date", QV_JOB_END_DATE},
    {"--begin-time", QV_JOB_BEGIN_TIME},
    {"--end-time", QV_JOB_END_TIME},
    {"--period", QV_JOB_PERIOD},
}};
constexpr std::array<int32_t, 3> kOrderFields = {QV_JOB_ORDER1, QV_JOB_ORDER2, QV_JOB_ORDER3};

// The statuses by number (QV_JOB_*), 0 for none.
constexpr std::array<const char *, 6> kStatusNames = {"none",   "submitted",       "refused",
                                                      "failed", "maybe submitted", "cancelled"};

const char *status_name(int32_t status) {
  return status >= 0 && static_cast<std::size_t>(status) < kStatusNames.size()
             ? kStatusNames[static_cast<std::size_t>(status)]
             : "unknown";
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StepError("send: cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Numbers separated by commas, semicolons or white space; in a file, a
// '#' starts a comment that runs to the end of its line.
void add_numbers(std::string_view text, bool comments, std::vector<std::string> &numbers) {
  std::string current;
  bool in_comment = false;
  const auto flush = [&] {
    if (!current.empty()) numbers.push_back(current);
    current.clear();
  };
  for (const char c : text) {
    if (in_comment) {
      in_comment = c != '\n';
      continue;
    }
    if (comments && c == '#') {
      flush();
      in_comment = true;
    } else if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c))) {
      flush();
    } else {
      current += c;
    }
  }
  flush();
}

std::string base_name(const std::string &path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The library's reason for the calling thread's last refusal.
std::string last_detail() {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail, sizeof detail);
  return detail;
}

void set_text(QvJob *job, int32_t field, const std::string &utf8, std::string_view option) {
  if (!QvJobSetText(job, field, utf8.c_str(), -1, QV_TEXT_UTF8))
    throw StepError("send: " + std::string(option) + " refused: " + last_detail());
}

int attempts_option(const std::string &text) {
  char *end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > kMaxAttempts)
    throw StepError("send: --attempts takes a number from 1 to " + std::to_string(kMaxAttempts));
  return static_cast<int>(value);
}

void print_line(std::ostream &out, std::string_view name, const std::string &value) {
  out << "    " << std::left << std::setw(9) << name << ' ' << value << '\n';
}

// The simulator's resolver, noting that it was asked and what it said.
struct Resolution {
  bool asked = false;
  int32_t answer = QV_RESOLVED_UNKNOWN;
};

int32_t QV_CALL noted_resolver(QvJob *job, void *context) {
  auto &resolution = *static_cast<Resolution *>(context);
  resolution.asked = true;
  resolution.answer = simulator_resolver(job, nullptr);
  return resolution.answer;
}

void QV_CALL print_progress(QvJob *, void *context, int32_t step, int32_t attempt) {
  *static_cast<std::ostream *>(context) << "    call " << step << ", attempt " << attempt << '\n';
}

// The evidence taken, by output name.
constexpr std::array<std::pair<const char *, int32_t>, 4> kEvidence = {{
    {"PackagesBefore", QV_EVIDENCE_PACKAGES_BEFORE},
    {"DetailsBefore", QV_EVIDENCE_DETAILS_BEFORE},
    {"PackagesAfter", QV_EVIDENCE_PACKAGES_AFTER},
    {"DetailsAfter", QV_EVIDENCE_DETAILS_AFTER},
}};

std::optional<std::string> evidence(QvJob *job, int32_t which) {
  std::string text(QV_BODY_BUFFER_SIZE, '\0');
  int32_t length = QvJobEvidence(job, which, text.data(), static_cast<int32_t>(text.size()));
  if (length >= static_cast<int32_t>(text.size())) {
    text.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = QvJobEvidence(job, which, text.data(), static_cast<int32_t>(text.size()));
  }
  if (length < 0 || length >= static_cast<int32_t>(text.size())) return std::nullopt;
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// The last line: what the job came to, and what to do about it.
std::string verdict(int32_t status, const StepResult &r, const Resolution &resolution) {
  const auto output = [&r](const char *name) { return r.outputs.at(name); };
  const std::string resolved = resolution.asked && resolution.answer != QV_RESOLVED_UNKNOWN
                                   ? " (the simulator's resolver decided from the evidence)"
                                   : "";
  switch (status) {
    case QV_JOB_SUBMITTED:
      if (!resolved.empty())
        return "submitted" + resolved +
               "; its answer was lost, so its job number and counts are the server's to tell";
      return "job " + quoted_from_gbk(output("JobNumber")) + " submitted: " + output("Recipients") +
             " recipients, " + output("Charged") + " messages charged, " + output("Left") + " left";
    case QV_JOB_REFUSED:
      return "refused by the server (code " + std::to_string(r.code.value_or(-1)) + " at call " +
             output("Step") + "): nothing submitted";
    case QV_JOB_FAILED:
      return "failed at call " + output("Step") + ": not submitted, safe to send again" + resolved;
    case QV_JOB_CANCELLED: return "cancelled before the submit was out: not submitted";
    case QV_JOB_MAYBE_SUBMITTED:
      return "MAYBE SUBMITTED: the submit went out and its answer did not come back. Do not "
             "send it again before looking it up (the evidence above, AllInfoPackId, LastDetails)";
    default: return "ended without a status";
  }
}

}  // namespace

bool is_send_step(const Step &step) {
  if (step.empty() || step.front().size() != 4) return false;
  std::string name = step.front();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return name == "send";
}

SendStep SendStep::from_step(const Step &step) {
  SendStep s;
  s.job_.reset(QvJobCreate());
  if (!s.job_) throw StepError("send: no job could be made: " + last_detail());
  QvJob *const job = s.job_.get();
  std::vector<std::string> numbers;
  for (std::size_t i = 1; i < step.size(); ++i) {
    const std::string &option = step[i];
    if (option == "--check" || option == "--evidence") {
      QvJobSetOption(job, option == "--check" ? QV_JOB_OPTION_CHECK : QV_JOB_OPTION_EVIDENCE, 1);
      continue;
    }
    if (option == "--sim-resolver") {
      QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1);
      s.sim_resolver_ = true;
      continue;
    }
    if (i + 1 >= step.size())
      throw StepError("send: " + option + " needs a value (or unknown option)");
    const std::string &value = step[++i];
    const auto text = std::find_if(kTextOptions.begin(), kTextOptions.end(),
                                   [&](const TextOption &t) { return t.option == option; });
    if (text != kTextOptions.end()) {
      set_text(job, text->field, value, option);
    } else if (option == "--to") {
      add_numbers(value, false, numbers);
    } else if (option == "--to-file") {
      add_numbers(read_file(value), true, numbers);
    } else if (option == "--attach") {
      const std::string bytes = read_file(value);
      set_text(job, QV_JOB_FILE_NAME, base_name(value), option);
      if (bytes.size() > QV_JOB_FILE_MAX ||
          !QvJobSetFile(job, bytes.data(), static_cast<int32_t>(bytes.size())))
        throw StepError("send: --attach refused: " +
                        (bytes.size() > QV_JOB_FILE_MAX
                             ? "the file is over " + std::to_string(QV_JOB_FILE_MAX) + " bytes"
                             : last_detail()));
    } else if (option == "--orders") {
      std::vector<std::string> ids;
      add_numbers(value, false, ids);
      if (ids.empty() || ids.size() > kOrderFields.size())
        throw StepError("send: --orders takes one to three order ids");
      for (std::size_t k = 0; k < ids.size(); ++k) set_text(job, kOrderFields[k], ids[k], option);
    } else if (option == "--attempts") {
      s.attempts_ = attempts_option(value);
    } else {
      throw StepError("send: unknown option " + option);
    }
  }
  for (const std::string &number : numbers) {
    // A number is GBK for the library, as typed it is UTF-8.
    std::string gbk(number.size() + 1, '\0');
    if (QvGbkFromUtf8(number.c_str(), -1, gbk.data(), static_cast<int32_t>(gbk.size())) < 0 ||
        !QvJobAddNumber(job, gbk.c_str()))
      throw StepError("send: the number \"" + number + "\" refused: " + last_detail());
  }
  return s;
}

StepResult SendStep::run(std::ostream &out) const {
  QvJob *const job = job_.get();
  Resolution resolution;
  QvJobSetProgress(job, print_progress, &out);
  if (sim_resolver_) QvJobSetResolver(job, noted_resolver, &resolution);
  StepResult r;
  r.result = QvSendJob(QvDefaultSession(), job, attempts_);
  r.failed = r.result != 1;
  const std::string refusal = r.failed ? last_detail() : std::string();
  int32_t status = 0, step = 0, attempts = 0, code = -1, recipients = 0, charged = 0, left = 0;
  std::string message(QV_BODY_BUFFER_SIZE, '\0'), number(QV_PARAM_BUFFER_SIZE, '\0');
  QvJobResult(job, &status, &step, &attempts, &code, message.data(), number.data(), &recipients,
              &charged, &left);
  int32_t outcome = QV_OUTCOME_OK, sent = 0, relogin = 0, socket_error = 0;
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  QvJobOutcome(job, &outcome, &sent, &relogin, &socket_error, detail, sizeof detail);
  if (status == 0) {
    // Refused before any call: nothing was sent.
    out << "    = 0\n    send: refused before any call: " << refusal << '\n';
    return r;
  }
  message.resize(std::strlen(message.c_str()));
  number.resize(std::strlen(number.c_str()));
  r.code = code;
  r.outputs = {{"Status", status_name(status)},
               {"Step", std::to_string(step)},
               {"Attempts", std::to_string(attempts)},
               {"Message", message},
               {"JobNumber", number},
               {"Recipients", std::to_string(recipients)},
               {"Charged", std::to_string(charged)},
               {"Left", std::to_string(left)},
               {"Outcome", kOutcomeNames[outcome_index(outcome)] +
                               std::string(detail[0] ? ": " : "") + detail}};
  out << "    = " << r.result << "    Code " << code << (code == -1 ? " (no response)" : "")
      << '\n';
  for (const char *name : {"Status", "Step", "Attempts"}) print_line(out, name, r.outputs[name]);
  print_line(out, "Message", quoted_from_gbk(message));
  print_line(out, "JobNumber", quoted_from_gbk(number));
  for (const char *name : {"Recipients", "Charged", "Left", "Outcome"})
    print_line(out, name, r.outputs[name]);
  for (const auto &[name, which] : kEvidence) {
    if (const std::optional<std::string> text = evidence(job, which)) {
      r.outputs[name] = *text;
      print_line(out, name, quoted_from_gbk(*text));
    }
  }
  out << "    send: " << verdict(status, r, resolution) << '\n';
  return r;
}

}  // namespace qv::cli
