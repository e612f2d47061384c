// The XML protocol's side of the platform: the login and the four
// reference queries.  Successful replies are GBK documents declared as
// gb2312; every other reply is a plain GBK text.
#include <utility>
#include <vector>

#include "commands.h"
#include "formats.h"
#include "replies.h"
#include "sim_texts.h"

namespace qv::sim {

namespace {

using Elements = std::vector<std::pair<std::string_view, std::string>>;

// A reply document whose root holds the elements, their texts escaped.
FxReply document(const Elements &elements) {
  std::string xml = R"(<?xml version="1.0" encoding="gb2312"?><reply>)";
  for (const auto &[name, text] : elements) {
    xml.append("<").append(name).append(">");
    xml += xml_escaped(text);
    xml.append("</").append(name).append(">");
  }
  xml += "</reply>";
  return {kFxSuccess, std::move(xml)};
}

FxReply plain(int32_t code, std::string_view text) { return {code, std::string(text)}; }

// 10000: <login> with app, ver, key, name and pwd, texts unescaped.  The
// elements are found by their tags, so any order and extra text pass; a
// missing name, pwd or key, or a key that is not 1 to 10 digits, is
// refused.  A failed login logs the connection out.
FxReply login(PlatformState &state, Session &session, std::string_view body) {
  session.account = nullptr;
  const auto name = element_text(body, "name");
  const auto pwd = element_text(body, "pwd");
  const auto key = element_text(body, "key");
  if (body.find("<login>") == std::string_view::npos || !name || !pwd || !key || key->empty() ||
      key->size() > 10 || !all_digits(*key))
    return plain(kFxBadRequest, texts::kFxBadLogin);
  AccountState *account = state.find_account(*name);
  if (!account) return plain(kFxUnknownAccount, texts::kUnknownAccount);
  if (account->account.password != *pwd) return plain(kFxWrongPassword, texts::kWrongPassword);
  session.account = account;
  ++state.logins_accepted;
  const Account &a = account->account;
  // agent is read as an integer: an id that is not one is answered as 0.
  const std::string agent = parse_signed(a.id) ? a.id : "0";
  return document({{"agent", agent},
                   {"agreement", std::to_string(a.level)},
                   {"pud", std::string(kAccessNumber)},
                   {"desc", std::string(texts::kWelcome)}});
}

}  // namespace

FxReply answer_fx(PlatformState &state, Session &session, int32_t code, std::string_view body,
                  std::string_view &command) {
  struct Query {
    int32_t code;
    std::string_view name;
    std::string_view element;
  };
  static constexpr Query kQueries[] = {
      {10101, "fxMsgStates", "states"},
      {10102, "fxInfoType", "types"},
      {10106, "fxNumRule", "rule"},
      {10127, "fxNotify", "notify"},
  };
  if (code == 10000) {
    command = "fxLogin";
    return login(state, session, body);
  }
  for (const Query &q : kQueries) {
    if (q.code != code) continue;
    command = q.name;
    if (!session.account) return plain(kFxNotLoggedIn, texts::kNotLoggedIn);
    std::string text;
    switch (code) {
      case 10101: text = texts::kMsgStates; break;
      case 10102: text = texts::kInfoTypes; break;
      case 10106: text = texts::kNumberPatterns; break;
      default: text = queries::notices_text(*session.account);
    }
    return document({{q.element, std::move(text)}});
  }
  command = "?";
  return plain(kFxUnknownCommand, texts::kUnknownCommand);
}

}  // namespace qv::sim
