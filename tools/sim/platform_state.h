// What the simulated platform knows: the product catalogue, and per
// account its sub-accounts, orders, scheduled orders, notices, the send
// job being collected and the jobs sent.  Nothing here knows about
// sockets; the simulator serialises every access with one mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace qv::sim {

enum class ProductKind { Sms, Mms, WapPush };

// A product of the catalogue.  Texts are GBK.
struct Product {
  std::string_view id;
  std::string_view name;
  ProductKind kind;
  int32_t max_chars;      // longest content, in characters
  int32_t segment_chars;  // characters of one charged message
  int32_t price_fen;      // price of one message, in fen
};

// The company's products; the demo account has ordered all but the last.
const std::vector<Product> &catalogue();
const Product *find_product(std::string_view id);
std::string_view kind_name(ProductKind kind);

// An order of the parent account: a purchased quantity of one product,
// part of which can be moved to sub-accounts.
struct Order {
  std::string product;
  int32_t quantity = 0;  // what the parent account still holds
};

// A scheduled order: a quantity of one product that may be sent within
// its effective dates and daily window.
struct ScheduledOrder {
  std::string product;
  std::string begin_date, end_date;      // "YYYY-MM-DD"
  std::string window_begin, window_end;  // "HH:MM"
  int32_t quantity = 0;
  int32_t used = 0;
};

struct SubAccount {
  std::string id;  // parent id, '-', two digits
  std::string password;
  std::string contact;  // GBK
  std::string phone;
  std::string kind;  // "user" (111, 1110) or "account" (1111)
  std::string created;
  bool enabled = true;
  std::map<std::string, int32_t> orders;  // order id -> quantity moved here
  std::set<std::string> access_numbers;   // extensions of the account's access number
};

// Message states of a recipient, as MsgStates lists them.
enum class RecipientState { Waiting = 0, Sending = 1, Sent = 2, Failed = 3, Cancelled = 4 };

struct Recipient {
  std::string number;
  RecipientState state;
};

struct SendJob {
  std::string number;  // the job number, also the information-package id
  std::string product;
  std::string content;
  std::string submitted;  // "YYYY-MM-DD HH:MM:SS"
  bool scheduled = false;
  std::string period;               // scheduled jobs
  std::vector<std::string> orders;  // scheduled jobs: scheduled-order ids
  std::vector<Recipient> recipients;
};

// The fields of the send job being collected, from SubmitAllClear to the
// overall submit.  A field refused by its command is not stored.
struct JobDraft {
  bool open = false;  // SubmitAllClear seen, no successful submit since
  std::optional<std::string> product;
  std::vector<std::string> numbers;  // every number of every SubmitTelList, in order
  std::optional<int32_t> number_count;
  std::optional<std::string> content;
  std::optional<std::string> push_url;
  std::optional<std::string> begin_date, end_date, begin_time, end_time;
  std::optional<std::string> file_name;
  std::string file_content;         // base64, the parts of every SubmitTransFile
  std::vector<std::string> orders;  // scheduled-order selection
  std::optional<std::string> period;
};

struct Notice {
  std::string date;
  std::string text;  // GBK
};

// The jobs an account keeps, newest last.
inline constexpr std::size_t kJobsKept = 10000;

// One account and everything the platform keeps for it.
struct AccountState {
  explicit AccountState(Account seed);

  Account account;
  std::vector<std::string> products;  // product ids the account has ordered
  std::map<std::string, Order> orders;
  std::map<std::string, ScheduledOrder> scheduled_orders;
  std::map<std::string, SubAccount> subs;  // by sub-account name
  int next_sub = 1;
  std::vector<Notice> notices;  // oldest first
  JobDraft draft;
  std::deque<SendJob> jobs;  // oldest first, at most kJobsKept

  bool has_product(std::string_view id) const;
  // Records a job sent; past kJobsKept the oldest is forgotten, so that an
  // account under load for hours keeps a bounded history.
  const SendJob &add_job(SendJob job);
  const SendJob *find_job(std::string_view number) const;
  std::size_t jobs_applied = 0;  // every job ever added, the forgotten ones too
};

// Rows "job,number,state,submitted" of every recipient of every job sent,
// newest job first, keeping only the numbers that begin with `prefix`.
std::vector<std::string> message_rows(const AccountState &account, std::string_view prefix);

// The carrier of a mobile number by its first three digits, as MobileNum
// lists the segments; "其他" (other) when no segment matches.
std::string_view carrier_of(std::string_view number);

// The account's access number, to which sub-accounts add extensions.
inline constexpr std::string_view kAccessNumber = "1065712345";

class PlatformState {
 public:
  explicit PlatformState(const std::vector<Account> &accounts);

  AccountState *find_account(std::string_view name);
  std::string next_job_number() { return std::to_string(next_job_++); }

  std::size_t logins_accepted = 0;

 private:
  std::map<std::string, AccountState, std::less<>> accounts_;
  int64_t next_job_ = 100001;
};

}  // namespace qv::sim
