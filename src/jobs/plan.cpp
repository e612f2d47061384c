#include "jobs/plan.h"

#include "common/gbk_text.h"
#include "record/client_queries.h"
#include "record/send_job.h"

namespace qv::jobs {

namespace {

constexpr size_t kBodyMax = QV_BODY_MAX_TEXT;
constexpr size_t kParamMax = QV_PARAM_MAX_TEXT;
// Whole groups of four base64 digits in one body.
constexpr size_t kBase64PartMax = kBodyMax / 4 * 4;

struct FieldRow {
  int32_t field;
  const char *name;  // for refusals
  const record::Command *command;
  const char *export_name;
};

// Every field, in the order a send puts them.  The orders have no command
// of their own: the three travel in one SubmitPQOrderSelect.
// clang-format off
constexpr FieldRow kFields[] = {
    {QV_JOB_PRODUCT,    "the product",    &record::kSubmitPrdId,         "SubmitPrdId"},
    {QV_JOB_CONTENT,    "the content",    &record::kSubmitContent,       "SubmitContent"},
    {QV_JOB_PUSH_URL,   "the push URL",   &record::kSubmitPushURL,       "SubmitPushURL"},
    {QV_JOB_BEGIN_DATE, "the begin date", &record::kSubmitBgnDate,       "SubmitBgnDate"},
    {QV_JOB_END_DATE,   "the end date",   &record::kSubmitEndDate,       "SubmitEndDate"},
    {QV_JOB_BEGIN_TIME, "the begin time", &record::kSubmitBgnTime,       "SubmitBgnTime"},
    {QV_JOB_END_TIME,   "the end time",   &record::kSubmitEndTime,       "SubmitEndTime"},
    {QV_JOB_FILE_NAME,  "the file name",  &record::kSubmitTransFilename, "SubmitTransFilename"},
    {QV_JOB_ORDER1,     "order 1",        nullptr,                       nullptr},
    {QV_JOB_ORDER2,     "order 2",        nullptr,                       nullptr},
    {QV_JOB_ORDER3,     "order 3",        nullptr,                       nullptr},
    {QV_JOB_PERIOD,     "the period",     &record::kSubmitBgnDateEx,     "SubmitBgnDateEx"},
};
// clang-format on

const FieldRow *row_of(int32_t field) {
  for (const FieldRow &row : kFields)
    if (row.field == field) return &row;
  return nullptr;
}

bool is_order(int32_t field) { return field >= QV_JOB_ORDER1 && field <= QV_JOB_ORDER3; }

Step step(const record::Command &command, const char *name, std::string text = {}) {
  Step s;
  s.command = &command;
  s.name = name;
  s.texts[0] = std::move(text);
  return s;
}

// The numbers joined by "," into as few bodies as hold them.
std::vector<std::string> number_parts(const std::vector<std::string> &numbers) {
  std::vector<std::string> parts(1);
  for (const std::string &number : numbers) {
    if (!parts.back().empty() && parts.back().size() + 1 + number.size() > kBodyMax)
      parts.emplace_back();
    if (!parts.back().empty()) parts.back() += ',';
    parts.back() += number;
  }
  return parts;
}

void add_field(std::vector<Step> &plan, const Content &job, int32_t field) {
  const FieldRow &row = *row_of(field);
  if (!job.texts[field].empty())
    plan.push_back(step(*row.command, row.export_name, job.texts[field]));
}

}  // namespace

Plan make_plan(const Content &job) {
  Plan plan;
  if (job.texts[QV_JOB_PRODUCT].empty()) {
    plan.refused = "The job names no product.";
    return plan;
  }
  if (job.numbers.empty()) {
    plan.refused = "The job has no numbers.";
    return plan;
  }
  std::vector<Step> &s = plan.steps;
  s.push_back(step(record::kSubmitAllClear, "SubmitAllClear"));
  add_field(s, job, QV_JOB_PRODUCT);
  if (job.check) s.push_back(step(record::kCheckPrdId, "CheckPrdId", job.texts[QV_JOB_PRODUCT]));
  for (std::string &part : number_parts(job.numbers))
    s.push_back(step(record::kSubmitTelList, "SubmitTelList", std::move(part)));
  s.push_back(step(record::kSubmitTelNum, "SubmitTelNum", std::to_string(job.numbers.size())));
  add_field(s, job, QV_JOB_CONTENT);
  if (job.check) s.push_back(step(record::kCheckContent, "CheckContent"));
  for (const int32_t f : {QV_JOB_PUSH_URL, QV_JOB_BEGIN_DATE, QV_JOB_END_DATE, QV_JOB_BEGIN_TIME,
                          QV_JOB_END_TIME, QV_JOB_FILE_NAME})
    add_field(s, job, f);
  const std::string encoded = base64(job.file);
  for (size_t at = 0; at < encoded.size(); at += kBase64PartMax)
    s.push_back(
        step(record::kSubmitTransFile, "SubmitTransFile", encoded.substr(at, kBase64PartMax)));
  const bool orders = !job.texts[QV_JOB_ORDER1].empty() || !job.texts[QV_JOB_ORDER2].empty() ||
                      !job.texts[QV_JOB_ORDER3].empty();
  if (orders) {
    Step select = step(record::kSubmitPQOrderSelect, "SubmitPQOrderSelect");
    for (int i = 0; i < 3; ++i) select.texts[i] = job.texts[QV_JOB_ORDER1 + i];
    s.push_back(std::move(select));
  }
  add_field(s, job, QV_JOB_PERIOD);
  const bool scheduled = orders || !job.texts[QV_JOB_PERIOD].empty();
  s.push_back(scheduled ? step(record::kSubmitAllOverEx_2, "SubmitAllOverEx_2")
                        : step(record::kSubmitAllOver_2, "SubmitAllOver_2"));
  s.back().submit = true;
  return plan;
}

Step packages_lookup() { return step(record::kAllInfoPackId, "AllInfoPackId"); }

Step details_lookup(const std::string &number) {
  Step s = step(record::kLastDetails, "LastDetails", number);
  s.number = QV_JOB_LOOKUP_ROWS;
  return s;
}

std::optional<std::string> field_text(int32_t field, std::string_view text, int32_t encoding,
                                      std::string &why) {
  const FieldRow *row = row_of(field);
  if (!row) {
    why = "Argument 2 is no job field (QV_JOB_PRODUCT to QV_JOB_PERIOD).";
    return std::nullopt;
  }
  const std::string name = row->name;
  std::string gbk;
  if (encoding == QV_TEXT_UTF8) {
    text::Unconvertible bad;
    if (!text::gbk_from_utf8(text, gbk, bad)) {
      why = "Argument 3, " + name + ", is " + bad.describe() + ".";
      return std::nullopt;
    }
  } else if (encoding == QV_TEXT_GBK) {
    gbk.assign(text);
  } else {
    why = "Argument 5 is no encoding (QV_TEXT_GBK or QV_TEXT_UTF8).";
    return std::nullopt;
  }
  if (gbk.find('\0') != std::string::npos) {
    why = "Argument 3, " + name + ", holds a zero byte.";
    return std::nullopt;
  }
  const size_t max = is_order(field) ? kParamMax : kBodyMax;
  if (gbk.size() > max) {
    why = "Argument 3, " + name + ", is " + std::to_string(gbk.size()) +
          " bytes of GBK; its field holds " + std::to_string(max) + ".";
    return std::nullopt;
  }
  return gbk;
}

std::string number_problem(std::string_view number) {
  if (number.empty()) return "Argument 2 is an empty number.";
  if (number.find(',') != std::string_view::npos) return "Argument 2 holds a comma.";
  if (number.size() > kBodyMax) return "Argument 2 is longer than 2047 bytes.";
  return {};
}

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace qv::jobs
