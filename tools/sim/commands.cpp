#include "commands.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "formats.h"
#include "replies.h"
#include "sim_texts.h"

namespace qv::sim {

namespace {

enum class Access { Anyone, LoggedIn };

struct Command {
  std::string_view name;
  Access access;
  Handler handle;
  // How many of the answer's Params the library reads as numbers: every
  // answer of the command, refusals included, carries decimal text there.
  int numeric_params = 0;
};

// Param1..3 of the login answer and of GetUdInfo.
void put_account_params(CommandRecord &answer, const Account &account) {
  put_param(answer, Field::Param1, account.id);
  put_number(answer, Field::Param2, account.quota);
  put_number(answer, Field::Param3, account.level);
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// 100: Body "app;extra" (not checked), Param1 name, Param2 password,
// Param3 version (not checked).  A failed login logs the session out.
void login(PlatformState &state, Session &session, const CommandRecord &request,
           CommandRecord &answer) {
  session.account = nullptr;
  AccountState *account = state.find_account(request.text(Field::Param1));
  if (!account) return reply(answer, kUnknownAccount, texts::kUnknownAccount);
  if (account->account.password != request.text(Field::Param2))
    return reply(answer, kWrongPassword, texts::kWrongPassword);
  session.account = account;
  ++state.logins_accepted;
  reply(answer, kAccepted, texts::kWelcome);
  put_account_params(answer, account->account);
}

void heartbeat(PlatformState &, Session &, const CommandRecord &, CommandRecord &answer) {
  reply(answer, kAccepted, "");
}

// The reference lists: the same text for every account.
template <const std::string_view &Text>
void fixed_text(PlatformState &, Session &, const CommandRecord &, CommandRecord &answer) {
  reply(answer, kAccepted, Text);
}

// 104: Body is the enquirer's text (not interpreted), Param1 the unit
// wanted, "KB" (also when empty) or "B" in any letter case.  Answers the
// limit as a decimal number in Body and the unit in Param1.
void mms_max_size(PlatformState &, Session &session, const CommandRecord &request,
                  CommandRecord &answer) {
  const std::string_view unit = request.text(Field::Param1);
  const int64_t kb = session.account->account.mms_max_kb;
  if (unit.empty() || equals_ignoring_case(unit, "KB")) {
    reply(answer, kAccepted, std::to_string(kb));
    put_param(answer, Field::Param1, "KB");
  } else if (equals_ignoring_case(unit, "B")) {
    reply(answer, kAccepted, std::to_string(kb * 1024));
    put_param(answer, Field::Param1, "B");
  } else {
    reply(answer, kBadRequest, texts::kUnsupportedUnit);
  }
}

// 107: the logged-in account in Body and its id, quota and level in
// Param1..3.
void account_info(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  const Account &a = session.account->account;
  Labelled body;
  body.add(texts::kLabelAccount, a.name)
      .add(texts::kLabelCompany, a.company)
      .add(texts::kLabelId, a.id)
      .add(texts::kLabelQuota, a.quota)
      .add(texts::kLabelLevel, a.level)
      .add(texts::kLabelMmsMax, a.mms_max_kb);
  reply(answer, kAccepted, body.text());
  put_account_params(answer, a);
}

const std::map<int32_t, Command> &command_table() {
  using A = Access;
  static const std::map<int32_t, Command> table{
      // Login, heartbeat and the reference queries
      {100, {"Login", A::Anyone, login}},
      {101, {"MsgStates", A::LoggedIn, fixed_text<texts::kMsgStates>}},
      {102, {"InfoType", A::LoggedIn, fixed_text<texts::kInfoTypes>}},
      {103, {"MobileNum", A::LoggedIn, fixed_text<texts::kMobileNum>}},
      {104, {"MMSMaxSize", A::LoggedIn, mms_max_size}},
      {105, {"Heartbeat", A::Anyone, heartbeat}},
      {106, {"NumRule", A::LoggedIn, fixed_text<texts::kNumRule>}},
      {107, {"GetUdInfo", A::LoggedIn, account_info}},

      // The account's password and its sub-accounts
      {110, {"EditPassword", A::LoggedIn, accounts::edit_password}},
      {111, {"AddSubUser", A::LoggedIn, accounts::add_sub}},
      {1110, {"AddSubUserEx", A::LoggedIn, accounts::add_sub_with_id}},
      {1111, {"AddSubAccount", A::LoggedIn, accounts::add_sub_account}},
      {112, {"DisableSubUser", A::LoggedIn, accounts::enable_sub}},
      {113, {"IncreaseSubBuy", A::LoggedIn, accounts::increase_sub_buy}},
      {114, {"ReduceSubBuy", A::LoggedIn, accounts::reduce_sub_buy}},
      {115, {"FindAllSubs", A::LoggedIn, accounts::list_subs}},
      {1150, {"FindAllSubsEx", A::LoggedIn, accounts::list_subs_counted, 3}},
      {116, {"FindSubInfo", A::LoggedIn, accounts::sub_info}},
      {1160, {"FindSubInfoEx", A::LoggedIn, accounts::sub_info_full}},
      {117, {"FindSubAllOrders", A::LoggedIn, accounts::sub_orders}},
      {118, {"FindSubOrderInfo", A::LoggedIn, accounts::sub_order}},
      {119, {"EditSubPWD", A::LoggedIn, accounts::edit_sub_password}},
      {1310, {"AddSubGwNumEx", A::LoggedIn, accounts::add_access_number}},
      {132, {"DelSubGwNum", A::LoggedIn, accounts::delete_access_number}},
      {140, {"Transfer", A::LoggedIn, accounts::transfer, 3}},
      {141, {"FindAllEmplyee", A::LoggedIn, accounts::sales_managers, 3}},

      // Client, product, package, notice and scheduled-order queries
      {121, {"ClientInfo", A::LoggedIn, queries::client_info}},
      {122, {"AllProductId", A::LoggedIn, queries::company_products}},
      {1220, {"CltProductId", A::LoggedIn, queries::client_products}},
      {1221, {"CltAllPrdIdName", A::LoggedIn, queries::client_product_names}},
      {1222, {"CltAllMmsInfo", A::LoggedIn, queries::client_mms_products}},
      {1223, {"CltAllIdNameType", A::LoggedIn, queries::client_product_types}},
      {123, {"ProductInfo", A::LoggedIn, queries::product_info}},
      {124, {"AllInfoPackId", A::LoggedIn, queries::packages}},
      {125, {"InfoPackStatus", A::LoggedIn, queries::package_report}},
      {1250, {"InfoPackStatusEx", A::LoggedIn, queries::package_report_full}},
      {127, {"GetMessage", A::LoggedIn, queries::notices}},
      {128, {"LastDetails", A::LoggedIn, queries::last_details}},
      {129, {"GetProductLen", A::LoggedIn, queries::product_length}},
      {1500, {"PQOrderList", A::LoggedIn, queries::scheduled_orders}},
      {1510, {"PQOrderInfoByID", A::LoggedIn, queries::scheduled_order}},
      {1520, {"PQGetAbilityURL", A::LoggedIn, queries::scheduling_url}},

      // The send job
      {298, {"SubmitAllClear", A::LoggedIn, send_job::clear}},
      {201, {"SubmitPrdId", A::LoggedIn, send_job::product}},
      {2011, {"CheckPrdId", A::LoggedIn, send_job::check_product}},
      {202, {"SubmitTelList", A::LoggedIn, send_job::numbers}},
      {203, {"SubmitTelNum", A::LoggedIn, send_job::number_count}},
      {204, {"SubmitContent", A::LoggedIn, send_job::content}},
      {2041, {"CheckContent", A::LoggedIn, send_job::check_content}},
      {205, {"SubmitPushURL", A::LoggedIn, send_job::push_url}},
      {206, {"SubmitBgnDate", A::LoggedIn, send_job::begin_date}},
      {2060, {"SubmitBgnDateEx", A::LoggedIn, send_job::period}},
      {207, {"SubmitEndDate", A::LoggedIn, send_job::end_date}},
      {208, {"SubmitBgnTime", A::LoggedIn, send_job::begin_time}},
      {209, {"SubmitEndTime", A::LoggedIn, send_job::end_time}},
      {211, {"SubmitTransFilename", A::LoggedIn, send_job::file_name}},
      {212, {"SubmitTransFile", A::LoggedIn, send_job::file_content}},
      {2200, {"SubmitPQOrderSelect", A::LoggedIn, send_job::order_selection}},
      {299, {"SubmitAllOver", A::LoggedIn, send_job::submit, 3}},
      {2990, {"SubmitAllOverEx", A::LoggedIn, send_job::submit_scheduled, 3}},

      // Content checks and the account's parameters
      {160, {"ContentPreview", A::LoggedIn, queries::content_preview, 1}},
      {161, {"GetSJKHDParams", A::LoggedIn, queries::merchant_params}},
      {162, {"GetSJKHDBid", A::LoggedIn, queries::merchant_bid}},
      {1700, {"CheckSMSContent", A::LoggedIn, queries::check_sms_content}},
      {1800, {"ClientGuiControl", A::LoggedIn, queries::gui_control}},
  };
  return table;
}

}  // namespace

void reply(CommandRecord &answer, int32_t code, std::string_view body) {
  const std::string_view fitting = gbk_prefix(body, record::max_text(Field::Body));
  answer.set_code(code);
  answer.put_text(Field::Body, fitting);
  answer.set_body_len(static_cast<int32_t>(fitting.size()));
}

void put_param(CommandRecord &answer, Field field, std::string_view text) {
  answer.put_text(field, gbk_prefix(text, record::max_text(field)));
}

void put_number(CommandRecord &answer, Field field, int64_t number) {
  put_param(answer, field, std::to_string(number));
}

Labelled &Labelled::add(std::string_view label, std::string_view value) {
  if (!text_.empty()) text_ += ';';
  text_.append(label).append(":").append(value);
  return *this;
}

std::string reason(std::string_view why, std::string_view what) {
  return std::string(why) + ":" + std::string(what);
}

Account demo_account() {
  return {.name = "demo",
          .password = "demo123",
          .id = "10001",
          .company = std::string(texts::kDemoCompany),
          .quota = 10000,
          .level = 2,
          .mms_max_kb = 100};
}

std::vector<Account> demo_accounts(std::size_t count) {
  std::vector<Account> accounts;
  for (std::size_t n = 1; n <= count; ++n) {
    Account account = demo_account();
    if (n > 1) {
      account.name += std::to_string(n);
      account.id = std::to_string(10000 + n);
    }
    accounts.push_back(std::move(account));
  }
  return accounts;
}

CommandRecord answer(PlatformState &state, Session &session, const CommandRecord &request,
                     std::string_view &command) {
  CommandRecord out;
  const auto &table = command_table();
  const auto it = table.find(request.code());
  if (it == table.end()) {
    command = "?";
    reply(out, kUnknownCommand, texts::kUnknownCommand);
    return out;
  }
  const Command &row = it->second;
  command = row.name;
  if (row.access == Access::LoggedIn && !session.account)
    reply(out, kNotLoggedIn, texts::kNotLoggedIn);
  else
    row.handle(state, session, request, out);
  // The library reads these Params as numbers whatever the code: a Param
  // left empty by a refusal would make it fail the call and log in again.
  static constexpr Field kParams[] = {Field::Param1, Field::Param2, Field::Param3};
  for (int i = 0; i < row.numeric_params; ++i)
    if (out.text(kParams[i]).empty()) put_param(out, kParams[i], "0");
  return out;
}

}  // namespace qv::sim
