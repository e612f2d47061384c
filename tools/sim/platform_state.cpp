#include "platform_state.h"

#include <algorithm>
#include <utility>

#include "formats.h"
#include "sim_texts.h"

namespace qv::sim {

const std::vector<Product> &catalogue() {
  static const std::vector<Product> products{
      {"1001", texts::kProductSms, ProductKind::Sms, 70, 70, 5},
      {"1002", texts::kProductLongSms, ProductKind::Sms, 350, 67, 5},
      {"2001", texts::kProductMms, ProductKind::Mms, 1000, 1000, 30},
      {"3001", texts::kProductWapPush, ProductKind::WapPush, 60, 60, 10},
      {"1009", texts::kProductIntlSms, ProductKind::Sms, 70, 70, 50},
  };
  return products;
}

const Product *find_product(std::string_view id) {
  const auto &all = catalogue();
  const auto it =
      std::find_if(all.begin(), all.end(), [id](const Product &p) { return p.id == id; });
  return it == all.end() ? nullptr : &*it;
}

std::string_view kind_name(ProductKind kind) {
  switch (kind) {
    case ProductKind::Sms: return "SMS";
    case ProductKind::Mms: return "MMS";
    case ProductKind::WapPush: return "WAP";
  }
  return "?";
}

AccountState::AccountState(Account seed) : account(std::move(seed)) {
  products = {"1001", "1002", "2001", "3001"};
  orders = {{"DD001", {"1001", 5000}}, {"DD002", {"2001", 800}}};
  // Valid from a year ago for ten years, and one that expired last month.
  const std::string year_ago = date_from_today(-365), in_ten_years = date_from_today(3650);
  scheduled_orders = {
      {"PQ001", {"1001", year_ago, in_ten_years, "08:00", "20:00", 2000, 0}},
      {"PQ002", {"1002", year_ago, date_from_today(-30), "08:00", "18:00", 500, 0}},
      {"PQ003", {"2001", year_ago, in_ten_years, "09:00", "21:00", 300, 0}},
  };
  notices = {{"2025-01-06", std::string(texts::kNoticeMaintenance)},
             {"2025-03-01", std::string(texts::kNoticeHolidays)}};
}

bool AccountState::has_product(std::string_view id) const {
  return std::find(products.begin(), products.end(), id) != products.end();
}

const SendJob &AccountState::add_job(SendJob job) {
  ++jobs_applied;
  jobs.push_back(std::move(job));
  if (jobs.size() > kJobsKept) jobs.pop_front();
  return jobs.back();
}

const SendJob *AccountState::find_job(std::string_view number) const {
  const auto it = std::find_if(jobs.begin(), jobs.end(),
                               [number](const SendJob &j) { return j.number == number; });
  return it == jobs.end() ? nullptr : &*it;
}

std::vector<std::string> message_rows(const AccountState &account, std::string_view prefix) {
  std::vector<std::string> rows;
  for (auto job = account.jobs.rbegin(); job != account.jobs.rend(); ++job)
    for (const Recipient &r : job->recipients)
      if (r.number.starts_with(prefix))
        rows.push_back(job->number + "," + r.number + "," +
                       std::to_string(static_cast<int>(r.state)) + "," + job->submitted);
  return rows;
}

std::string_view carrier_of(std::string_view number) {
  const std::string_view prefix = number.substr(0, 3);
  for (const std::string_view segment : split(texts::kMobileNum, ';')) {
    const auto colon = segment.find(':');
    for (const std::string_view p : split(segment.substr(colon + 1), ','))
      if (p == prefix) return segment.substr(0, colon);
  }
  return texts::kCarrierOther;
}

PlatformState::PlatformState(const std::vector<Account> &accounts) {
  for (const Account &a : accounts) accounts_.insert_or_assign(a.name, AccountState(a));
}

AccountState *PlatformState::find_account(std::string_view name) {
  const auto it = accounts_.find(name);
  return it == accounts_.end() ? nullptr : &it->second;
}

}  // namespace qv::sim
