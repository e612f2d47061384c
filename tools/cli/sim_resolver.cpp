#include "sim_resolver.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qv::cli {

namespace {

constexpr std::string_view kCut = "...";  // a list cut to fit a message

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> entries(std::string_view list) {
  std::vector<std::string_view> out;
  while (!list.empty()) {
    const size_t end = std::min(list.find(';'), list.size());
    out.push_back(list.substr(0, end));
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return out;
}

// AllInfoPackId's job numbers; false when the text is not such a list.
bool job_numbers(std::string_view list, std::vector<std::string_view> &jobs, bool &cut) {
  jobs = entries(list);
  cut = !jobs.empty() && jobs.back() == kCut;
  if (cut) jobs.pop_back();
  return std::all_of(jobs.begin(), jobs.end(), all_digits);
}

// The job of each LastDetails row; false when a row is not one.
bool detail_jobs(std::string_view rows, std::vector<std::string_view> &jobs) {
  jobs.clear();
  for (const std::string_view row : entries(rows)) {
    if (row == kCut) continue;
    const std::vector<std::string_view> fields = [row] {
      std::vector<std::string_view> f;
      std::string_view rest = row;
      for (size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
        f.push_back(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
      }
      f.push_back(rest);
      return f;
    }();
    if (fields.size() != 4 || !all_digits(fields[0]) || !all_digits(fields[1])) return false;
    jobs.push_back(fields[0]);
  }
  return true;
}

std::optional<std::string> evidence(QvJob *job, int32_t which) {
  std::string text(QV_BODY_BUFFER_SIZE, '\0');
  int32_t length = QvJobEvidence(job, which, text.data(), static_cast<int32_t>(text.size()));
  if (length >= static_cast<int32_t>(text.size())) {
    text.assign(static_cast<size_t>(length) + 1, '\0');
    length = QvJobEvidence(job, which, text.data(), static_cast<int32_t>(text.size()));
  }
  if (length < 0 || length >= static_cast<int32_t>(text.size())) return std::nullopt;
  text.resize(static_cast<size_t>(length));
  return text;
}

std::optional<std::string_view> view(const std::optional<std::string> &text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

}  // namespace

int32_t resolve_on_simulator(std::optional<std::string_view> packages_before,
                             std::optional<std::string_view> packages_after,
                             std::optional<std::string_view> details_after) {
  std::vector<std::string_view> before, after, detailed;
  bool before_cut = false, after_cut = false;
  if (!packages_before || !packages_after || !details_after ||
      !job_numbers(*packages_before, before, before_cut) ||
      !job_numbers(*packages_after, after, after_cut) || !detail_jobs(*details_after, detailed))
    return QV_RESOLVED_UNKNOWN;
  // Newest first: the new jobs come before the newest one known before.
  auto known = after.end();
  if (!before.empty()) {
    known = std::find(after.begin(), after.end(), before.front());
    if (known == after.end()) return QV_RESOLVED_UNKNOWN;
  } else if (after_cut) {
    return QV_RESOLVED_UNKNOWN;  // more new jobs than the list shows
  }
  const std::vector<std::string_view> fresh(after.begin(), known);
  const auto holding = std::count_if(fresh.begin(), fresh.end(), [&](std::string_view job) {
    return std::find(detailed.begin(), detailed.end(), job) != detailed.end();
  });
  if (holding == 1) return QV_RESOLVED_SUBMITTED;
  if (holding > 1) return QV_RESOLVED_UNKNOWN;
  // Rows come newest job first: a new job holding the number would be
  // among them unless the rows are all new jobs' (then it would be found).
  return QV_RESOLVED_NOT_SUBMITTED;
}

int32_t QV_CALL simulator_resolver(QvJob *job, void *) {
  const std::optional<std::string> before = evidence(job, QV_EVIDENCE_PACKAGES_BEFORE),
                                   after = evidence(job, QV_EVIDENCE_PACKAGES_AFTER),
                                   details = evidence(job, QV_EVIDENCE_DETAILS_AFTER);
  return resolve_on_simulator(view(before), view(after), view(details));
}

}  // namespace qv::cli
