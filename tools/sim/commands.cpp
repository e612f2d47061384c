#include "commands.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "sim_texts.h"

namespace qv::sim {

using record::CommandRecord;
using record::Field;

namespace {

enum class Access { Anyone, LoggedIn };

using Handler = void (*)(PlatformState &, Session &, const CommandRecord &request,
                         CommandRecord &answer);

struct Command {
  std::string_view name;
  Access access;
  Handler handle;
};

void reply(CommandRecord &answer, int32_t code, std::string_view body) {
  answer.set_code(code);
  answer.put_text(Field::Body, body);
  answer.set_body_len(static_cast<int32_t>(body.size()));
}

// Param1..3 of the login answer and of GetUdInfo.
void put_account_params(CommandRecord &answer, const Account &account) {
  answer.put_text(Field::Param1, account.id);
  answer.put_text(Field::Param2, std::to_string(account.quota));
  answer.put_text(Field::Param3, std::to_string(account.level));
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// 100: Body "app;extra" (not checked), Param1 name, Param2 password,
// Param3 version (not checked).  A failed login logs the session out.
void login(PlatformState &state, Session &session, const CommandRecord &request,
           CommandRecord &answer) {
  session.account = nullptr;
  const Account *account = state.find_account(request.text(Field::Param1));
  if (!account) return reply(answer, kUnknownAccount, texts::kUnknownAccount);
  if (account->password != request.text(Field::Param2))
    return reply(answer, kWrongPassword, texts::kWrongPassword);
  session.account = account;
  ++state.logins_accepted;
  reply(answer, kAccepted, texts::kWelcome);
  put_account_params(answer, *account);
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
  const int64_t kb = session.account->mms_max_kb;
  if (unit.empty() || equals_ignoring_case(unit, "KB")) {
    reply(answer, kAccepted, std::to_string(kb));
    answer.put_text(Field::Param1, "KB");
  } else if (equals_ignoring_case(unit, "B")) {
    reply(answer, kAccepted, std::to_string(kb * 1024));
    answer.put_text(Field::Param1, "B");
  } else {
    reply(answer, kBadRequest, texts::kUnsupportedUnit);
  }
}

// 107: the logged-in account in Body ("label:value" pairs separated by
// ";") and its id, quota and level in Param1..3.
void account_info(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  const Account &a = *session.account;
  std::string body;
  body.append(texts::kLabelAccount).append(a.name);
  body.append(texts::kLabelCompany).append(a.company);
  body.append(texts::kLabelId).append(a.id);
  body.append(texts::kLabelQuota).append(std::to_string(a.quota));
  body.append(texts::kLabelLevel).append(std::to_string(a.level));
  body.append(texts::kLabelMmsMax).append(std::to_string(a.mms_max_kb));
  reply(answer, kAccepted, body);
  put_account_params(answer, a);
}

// Later issues add their commands here, one row each.
const std::map<int32_t, Command> &command_table() {
  static const std::map<int32_t, Command> table{
      {100, {"Login", Access::Anyone, login}},
      {101, {"MsgStates", Access::LoggedIn, fixed_text<texts::kMsgStates>}},
      {102, {"InfoType", Access::LoggedIn, fixed_text<texts::kInfoTypes>}},
      {103, {"MobileNum", Access::LoggedIn, fixed_text<texts::kMobileNum>}},
      {104, {"MMSMaxSize", Access::LoggedIn, mms_max_size}},
      {105, {"Heartbeat", Access::Anyone, heartbeat}},
      {106, {"NumRule", Access::LoggedIn, fixed_text<texts::kNumRule>}},
      {107, {"GetUdInfo", Access::LoggedIn, account_info}},
  };
  return table;
}

}  // namespace

Account demo_account() {
  return {.name = "demo",
          .password = "demo123",
          .id = "10001",
          .company = std::string(texts::kDemoCompany),
          .quota = 10000,
          .level = 2,
          .mms_max_kb = 100};
}

PlatformState::PlatformState(const std::vector<Account> &accounts) {
  for (const Account &a : accounts) accounts_.insert_or_assign(a.name, a);
}

Account *PlatformState::find_account(std::string_view name) {
  const auto it = accounts_.find(name);
  return it == accounts_.end() ? nullptr : &it->second;
}

CommandRecord answer(PlatformState &state, Session &session, const CommandRecord &request,
                     std::string_view &command) {
  CommandRecord out;
  const auto &table = command_table();
  const auto it = table.find(request.code());
  if (it == table.end()) {
    command = "?";
    reply(out, kUnknownCommand, texts::kUnknownCommand);
  } else if (it->second.access == Access::LoggedIn && !session.account) {
    command = it->second.name;
    reply(out, kNotLoggedIn, texts::kNotLoggedIn);
  } else {
    command = it->second.name;
    it->second.handle(state, session, request, out);
  }
  return out;
}

}  // namespace qv::sim
