#include "send_step.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "call.h"
#include "text_codec.h"

namespace qv::cli {

namespace {

constexpr int32_t kAccepted = QV_CODE_ACCEPTED;
constexpr std::size_t kFieldMax = QV_BODY_MAX_TEXT;
// The largest multiple of 4 that fits a field: a base64 part of whole groups.
constexpr std::size_t kBase64PartMax = kFieldMax / 4 * 4;

struct Options {
  std::optional<std::string> product, content, url, begin_date, end_date, begin_time, end_time,
      period;
  std::vector<std::string> numbers;
  std::vector<std::string> orders;
  std::optional<std::string> attachment;  // a file's path
  bool check = false;
};

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

std::string gbk_or_throw(const std::string &utf8, std::string_view option) {
  auto gbk = utf8_to_gbk(utf8);
  if (!gbk) throw StepError("send: " + std::string(option) + " cannot be written in GBK");
  if (gbk->size() > kFieldMax)
    throw StepError("send: " + std::string(option) + " is " + std::to_string(gbk->size()) +
                    " bytes in GBK; a field holds at most " + std::to_string(kFieldMax));
  return *gbk;
}

Options parse_options(const Step &step) {
  Options o;
  for (std::size_t i = 1; i < step.size(); ++i) {
    const std::string &option = step[i];
    if (option == "--check") {
      o.check = true;
      continue;
    }
    if (i + 1 >= step.size())
      throw StepError("send: " + option + " needs a value (or unknown option)");
    const std::string &value = step[++i];
    if (option == "--product")
      o.product = value;
    else if (option == "--to")
      add_numbers(value, false, o.numbers);
    else if (option == "--to-file")
      add_numbers(read_file(value), true, o.numbers);
    else if (option == "--content")
      o.content = value;
    else if (option == "--url")
      o.url = value;
    else if (option == "--begin-date")
      o.begin_date = value;
    else if (option == "--end-date")
      o.end_date = value;
    else if (option == "--begin-time")
      o.begin_time = value;
    else if (option == "--end-time")
      o.end_time = value;
    else if (option == "--attach")
      o.attachment = value;
    else if (option == "--period")
      o.period = value;
    else if (option == "--orders") {
      std::vector<std::string> ids;
      add_numbers(value, false, ids);
      if (ids.empty() || ids.size() > 3)
        throw StepError("send: --orders takes one to three order ids");
      o.orders = ids;
    } else {
      throw StepError("send: unknown option " + option);
    }
  }
  return o;
}

// Comma-separated number lists of at most kFieldMax bytes each.
std::vector<std::string> number_lists(const std::vector<std::string> &numbers) {
  std::vector<std::string> lists;
  for (const std::string &n : numbers) {
    if (n.size() > kFieldMax)
      throw StepError("send: a recipient of " + std::to_string(n.size()) + " bytes");
    if (lists.empty() || lists.back().size() + 1 + n.size() > kFieldMax)
      lists.emplace_back();
    else
      lists.back() += ',';
    lists.back() += n;
  }
  return lists;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[group >> 18 & 63];
    out += kAlphabet[group >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[group >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string base_name(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool is_send_step(const Step &step) {
  if (step.empty() || step.front().size() != 4) return false;
  std::string name = step.front();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return name == "send";
}

SendJobPlan SendJobPlan::from_step(const Step &step) {
  const Options o = parse_options(step);
  if (o.content) gbk_or_throw(*o.content, "--content");
  if (o.period) gbk_or_throw(*o.period, "--period");
  SendJobPlan plan;
  auto &s = plan.steps_;
  const auto field = [&s](std::string_view name, const std::optional<std::string> &value) {
    if (value) s.push_back({std::string(name), *value});
  };
  s.push_back({"SubmitAllClear"});
  field("SubmitPrdId", o.product);
  if (o.check && o.product) s.push_back({"CheckPrdId", *o.product});
  for (const std::string &list : number_lists(o.numbers)) s.push_back({"SubmitTelList", list});
  if (!o.numbers.empty()) s.push_back({"SubmitTelNum", std::to_string(o.numbers.size())});
  field("SubmitContent", o.content);
  if (o.check) s.push_back({"CheckContent"});
  field("SubmitPushURL", o.url);
  field("SubmitBgnDate", o.begin_date);
  field("SubmitEndDate", o.end_date);
  field("SubmitBgnTime", o.begin_time);
  field("SubmitEndTime", o.end_time);
  if (o.attachment) {
    s.push_back({"SubmitTransFilename", base_name(*o.attachment)});
    const std::string encoded = base64(read_file(*o.attachment));
    for (std::size_t at = 0; at < encoded.size(); at += kBase64PartMax)
      s.push_back({"SubmitTransFile", encoded.substr(at, kBase64PartMax)});
  }
  const bool scheduled = !o.orders.empty() || o.period;
  if (!o.orders.empty()) {
    Step select{"SubmitPQOrderSelect"};
    select.insert(select.end(), o.orders.begin(), o.orders.end());
    s.push_back(select);
  }
  field("SubmitBgnDateEx", o.period);
  s.push_back({scheduled ? "SubmitAllOverEx_2" : "SubmitAllOver_2"});
  check_steps(s);
  return plan;
}

namespace {

// A submit that failed may still have reached the server: say which case
// this is, so that a job is not sent twice.
void warn_if_maybe_applied(const Step &step, std::ostream &out) {
  if (step.front().rfind("SubmitAllOver", 0) != 0) return;
  int32_t sent = 0;
  GetLastOutcome(nullptr, &sent, nullptr, nullptr, nullptr, 0);
  if (sent)
    out << "    send: WARNING: the submit failed after the whole request was written: the server may have\n"
           "          accepted (and charged) the job. Look it up (LastDetails) before sending it again.\n";
  else
    out << "    send: the submit was not written in full: the server cannot have it; sending again is safe.\n";
}

}  // namespace

StepResult SendJobPlan::run(std::ostream &out) const {
  int refused = 0;
  StepResult last;
  for (const Step &step : steps_) {
    last = run_step(step, out);
    if (last.failed) {
      out << "    send: stopped, " << step.front() << " returned 0\n";
      warn_if_maybe_applied(step, out);
      return last;
    }
    if (&step != &steps_.back() && last.code != kAccepted) ++refused;
  }
  StepResult r = last;
  r.outputs["Refused"] = std::to_string(refused);
  const bool accepted = last.code == kAccepted;
  r.result = accepted ? 1 : 0;
  r.failed = !accepted;
  if (accepted) {
    out << "    send: job " << quoted_from_gbk(r.outputs["Message"])
        << " accepted: " << r.outputs["Number1"] << " recipients, " << r.outputs["Number2"]
        << " messages charged, " << r.outputs["Number3"] << " left";
  } else {
    out << "    send: not accepted (code " << last.code.value_or(-1) << ")";
  }
  out << (refused ? ", " + std::to_string(refused) + " field(s) refused" : std::string()) << '\n';
  return r;
}

}  // namespace qv::cli
