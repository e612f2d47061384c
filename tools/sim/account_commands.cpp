// The account's password and its sub-accounts: creating, enabling,
// listing and describing them, moving purchased quantities of orders to
// and from them, their passwords and access numbers; the sales managers
// and the transfer of large data.
#include <numeric>

#include "formats.h"
#include "replies.h"
#include "sim_texts.h"

namespace qv::sim::accounts {

namespace {

constexpr std::size_t kMaxSubs = 200;

bool is_sub_name(std::string_view name) {
  if (name.size() < 3 || name.size() > 16) return false;
  for (const char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

bool is_password(std::string_view password) {
  if (password.size() < 6 || password.size() > 16) return false;
  for (const char c : password)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// The sub-account named in the request's Body, or a 404 answer.
SubAccount *sub_named(Session &session, std::string_view name, CommandRecord &answer) {
  auto &subs = session.account->subs;
  const auto it = subs.find(std::string(name));
  if (it != subs.end()) return &it->second;
  reply(answer, kNotFound, reason(texts::kNoSuchSub, name));
  return nullptr;
}

std::string_view state_name(const SubAccount &sub) {
  return sub.enabled ? texts::kEnabled : texts::kDisabled;
}

std::string_view kind_label(const SubAccount &sub) {
  return sub.kind == "account" ? texts::kKindAccount : texts::kKindUser;
}

// 111, 1110, 1111: Body the name, Param1 the password, Param2 the contact
// person, Param3 the contact's phone (digits, may be empty).
SubAccount *create_sub(Session &session, const CommandRecord &request, std::string_view kind,
                       CommandRecord &answer) {
  const auto refuse = [&answer](int32_t code, std::string_view why) -> SubAccount * {
    reply(answer, code, why);
    return nullptr;
  };
  AccountState &account = *session.account;
  const std::string name(request.text(Field::Body));
  const std::string_view phone = request.text(Field::Param3);
  if (!is_sub_name(name)) return refuse(kBadRequest, texts::kBadSubName);
  if (account.subs.contains(name)) return refuse(kAlreadyExists, reason(texts::kSubExists, name));
  if (!is_password(request.text(Field::Param1))) return refuse(kBadRequest, texts::kBadPassword);
  if (phone.size() > 15 || !all_digits(phone)) return refuse(kBadRequest, texts::kBadPhone);
  if (account.subs.size() >= kMaxSubs) return refuse(kBadRequest, texts::kTooManySubs);
  const int serial = account.next_sub++;
  SubAccount sub;
  sub.id = account.account.id + (serial < 10 ? "-0" : "-") + std::to_string(serial);
  sub.password = request.text(Field::Param1);
  sub.contact = request.text(Field::Param2);
  sub.phone = phone;
  sub.kind = kind;
  sub.created = now_stamp();
  return &account.subs.emplace(name, std::move(sub)).first->second;
}

// "sub,extension" with an extension of 1 to 6 digits.
bool parse_access_request(std::string_view body, std::string_view &sub,
                          std::string_view &extension) {
  const auto pieces = split(body, ',');
  if (pieces.size() != 2) return false;
  sub = pieces[0];
  extension = pieces[1];
  return !extension.empty() && extension.size() <= 6 && all_digits(extension);
}

std::string full_access_number(std::string_view extension) {
  return std::string(kAccessNumber) + std::string(extension);
}

// Moves `quantity` of order `order_id` between the parent and a
// sub-account (113 and 114): Body the sub-account, Param1 the order,
// Param2 the quantity.
void move_quantity(Session &session, const CommandRecord &request, CommandRecord &answer,
                   bool to_sub) {
  SubAccount *sub = sub_named(session, request.text(Field::Body), answer);
  if (!sub) return;
  const std::string order_id(request.text(Field::Param1));
  const auto order = session.account->orders.find(order_id);
  if (order == session.account->orders.end() || (!to_sub && !sub->orders.contains(order_id)))
    return reply(answer, kNotFound, reason(texts::kNoSuchOrder, order_id));
  const auto quantity = parse_count(request.text(Field::Param2));
  if (!quantity || *quantity == 0) return reply(answer, kBadRequest, texts::kBadQuantity);
  int32_t &from = to_sub ? order->second.quantity : sub->orders[order_id];
  int32_t &to = to_sub ? sub->orders[order_id] : order->second.quantity;
  if (from < *quantity)
    return reply(answer, kShortOfQuantity, reason(texts::kShortOfQuantity, std::to_string(from)));
  from -= *quantity;
  to += *quantity;
  Labelled body;
  body.add(texts::kLabelOrder, order_id)
      .add(texts::kLabelParentLeft, order->second.quantity)
      .add(texts::kLabelSubQuantity, sub->orders[order_id]);
  reply(answer, kAccepted, body.text());
}

void describe(const std::string &name, const SubAccount &sub, Labelled &body) {
  body.add(texts::kLabelAccount, name)
      .add(texts::kLabelId, sub.id)
      .add(texts::kLabelKind, kind_label(sub))
      .add(texts::kLabelContact, sub.contact)
      .add(texts::kLabelPhone, sub.phone)
      .add(texts::kLabelState, state_name(sub))
      .add(texts::kLabelCreated, sub.created);
}

// Entries "name,id,kind,1|0,contact" (1: enabled).
std::vector<std::string> sub_entries(const AccountState &account) {
  std::vector<std::string> entries;
  for (const auto &[name, sub] : account.subs)
    entries.push_back(name + "," + sub.id + "," + sub.kind + "," + (sub.enabled ? "1" : "0") + "," +
                      sub.contact);
  return entries;
}

}  // namespace

// 110: Body the account's name, Param1 the password in use, Param2 and
// Param3 the new password twice.
void edit_password(PlatformState &, Session &session, const CommandRecord &request,
                   CommandRecord &answer) {
  Account &account = session.account->account;
  const std::string_view fresh = request.text(Field::Param2);
  if (request.text(Field::Body) != account.name)
    return reply(answer, kBadRequest, texts::kNotThisAccount);
  if (request.text(Field::Param1) != account.password)
    return reply(answer, kWrongPassword, texts::kWrongOldPassword);
  if (fresh != request.text(Field::Param3))
    return reply(answer, kBadRequest, texts::kNewPasswordsDiffer);
  if (!is_password(fresh)) return reply(answer, kBadRequest, texts::kBadPassword);
  account.password = fresh;
  session.account->notices.push_back({today(), std::string(texts::kNoticePasswordChanged)});
  reply(answer, kAccepted, texts::kPasswordChanged);
}

void add_sub(PlatformState &, Session &session, const CommandRecord &request,
             CommandRecord &answer) {
  if (create_sub(session, request, "user", answer)) reply(answer, kAccepted, texts::kSubCreated);
}

// 1110: as 111, answering the new sub-account's id.
void add_sub_with_id(PlatformState &, Session &session, const CommandRecord &request,
                     CommandRecord &answer) {
  if (const SubAccount *sub = create_sub(session, request, "user", answer))
    reply(answer, kAccepted, sub->id);
}

// 1111: a sub-account of kind "account", answering its id.
void add_sub_account(PlatformState &, Session &session, const CommandRecord &request,
                     CommandRecord &answer) {
  if (const SubAccount *sub = create_sub(session, request, "account", answer))
    reply(answer, kAccepted, sub->id);
}

// 112: Param1 the sub-account, Param2 "0" to disable or "1" to enable.
void enable_sub(PlatformState &, Session &session, const CommandRecord &request,
                CommandRecord &answer) {
  const std::string_view flag = request.text(Field::Param2);
  if (flag != "0" && flag != "1") return reply(answer, kBadRequest, texts::kBadSwitch);
  SubAccount *sub = sub_named(session, request.text(Field::Param1), answer);
  if (!sub) return;
  sub->enabled = flag == "1";
  reply(answer, kAccepted, sub->enabled ? texts::kSubEnabled : texts::kSubDisabled);
}

void increase_sub_buy(PlatformState &, Session &session, const CommandRecord &request,
                      CommandRecord &answer) {
  move_quantity(session, request, answer, true);
}

void reduce_sub_buy(PlatformState &, Session &session, const CommandRecord &request,
                    CommandRecord &answer) {
  move_quantity(session, request, answer, false);
}

void list_subs(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  reply(answer, kAccepted,
        join_fitting(sub_entries(*session.account), record::max_text(Field::Body)));
}

// 1150: as 115, with the counts of all, enabled and disabled sub-accounts.
void list_subs_counted(PlatformState &, Session &session, const CommandRecord &,
                       CommandRecord &answer) {
  const auto &subs = session.account->subs;
  const auto enabled =
      std::count_if(subs.begin(), subs.end(), [](const auto &s) { return s.second.enabled; });
  reply(answer, kAccepted,
        join_fitting(sub_entries(*session.account), record::max_text(Field::Body)));
  put_number(answer, Field::Param1, static_cast<int64_t>(subs.size()));
  put_number(answer, Field::Param2, enabled);
  put_number(answer, Field::Param3, static_cast<int64_t>(subs.size()) - enabled);
}

void sub_info(PlatformState &, Session &session, const CommandRecord &request,
              CommandRecord &answer) {
  const std::string name(request.text(Field::Body));
  const SubAccount *sub = sub_named(session, name, answer);
  if (!sub) return;
  Labelled body;
  describe(name, *sub, body);
  reply(answer, kAccepted, body.text());
}

// 1160: as 116, with the orders and access numbers.
void sub_info_full(PlatformState &, Session &session, const CommandRecord &request,
                   CommandRecord &answer) {
  const std::string name(request.text(Field::Body));
  const SubAccount *sub = sub_named(session, name, answer);
  if (!sub) return;
  Labelled body;
  describe(name, *sub, body);
  int64_t total = 0;
  for (const auto &[id, quantity] : sub->orders) total += quantity;
  std::string numbers;
  for (const std::string &extension : sub->access_numbers)
    numbers += (numbers.empty() ? "" : ",") + full_access_number(extension);
  body.add(texts::kLabelOrderCount, static_cast<int64_t>(sub->orders.size()))
      .add(texts::kLabelQuantityTotal, total)
      .add(texts::kLabelAccessNumbers, numbers);
  reply(answer, kAccepted, body.text());
}

// 117: entries "order,product,quantity".
void sub_orders(PlatformState &, Session &session, const CommandRecord &request,
                CommandRecord &answer) {
  const SubAccount *sub = sub_named(session, request.text(Field::Body), answer);
  if (!sub) return;
  std::vector<std::string> entries;
  for (const auto &[id, quantity] : sub->orders)
    entries.push_back(id + "," + session.account->orders.at(id).product + "," +
                      std::to_string(quantity));
  reply(answer, kAccepted, join_fitting(entries, record::max_text(Field::Body)));
}

// 118: Body the sub-account, Param1 the order.
void sub_order(PlatformState &, Session &session, const CommandRecord &request,
               CommandRecord &answer) {
  const SubAccount *sub = sub_named(session, request.text(Field::Body), answer);
  if (!sub) return;
  const std::string id(request.text(Field::Param1));
  const auto it = sub->orders.find(id);
  if (it == sub->orders.end()) return reply(answer, kNotFound, reason(texts::kNoSuchOrder, id));
  const std::string &product_id = session.account->orders.at(id).product;
  const Product *product = find_product(product_id);
  Labelled body;
  body.add(texts::kLabelOrder, id)
      .add(texts::kLabelProduct, product_id)
      .add(texts::kLabelName, product ? product->name : "")
      .add(texts::kLabelQuantity, it->second);
  reply(answer, kAccepted, body.text());
}

// 119: Body the sub-account, Param1 its password in use, Param2 and Param3
// the new password twice.
void edit_sub_password(PlatformState &, Session &session, const CommandRecord &request,
                       CommandRecord &answer) {
  SubAccount *sub = sub_named(session, request.text(Field::Body), answer);
  if (!sub) return;
  const std::string_view fresh = request.text(Field::Param2);
  if (request.text(Field::Param1) != sub->password)
    return reply(answer, kWrongPassword, texts::kWrongOldPassword);
  if (fresh != request.text(Field::Param3))
    return reply(answer, kBadRequest, texts::kNewPasswordsDiffer);
  if (!is_password(fresh)) return reply(answer, kBadRequest, texts::kBadPassword);
  sub->password = fresh;
  reply(answer, kAccepted, texts::kSubPasswordChanged);
}

// 1310: Body "sub,extension".  Param1 the full access number, Param2 how
// many the sub-account has now.
void add_access_number(PlatformState &, Session &session, const CommandRecord &request,
                       CommandRecord &answer) {
  std::string_view name, extension;
  if (!parse_access_request(request.text(Field::Body), name, extension))
    return reply(answer, kBadRequest, texts::kBadAccessRequest);
  SubAccount *sub = sub_named(session, name, answer);
  if (!sub) return;
  const std::string full = full_access_number(extension);
  for (const auto &[other, s] : session.account->subs)
    if (s.access_numbers.contains(std::string(extension)))
      return reply(answer, kAlreadyExists, reason(texts::kAccessNumberTaken, full));
  sub->access_numbers.emplace(extension);
  reply(answer, kAccepted, reason(texts::kAccessNumberAdded, full));
  put_param(answer, Field::Param1, full);
  put_number(answer, Field::Param2, static_cast<int64_t>(sub->access_numbers.size()));
}

// 132: Body "sub,extension".  Param1 how many the sub-account has left.
void delete_access_number(PlatformState &, Session &session, const CommandRecord &request,
                          CommandRecord &answer) {
  std::string_view name, extension;
  if (!parse_access_request(request.text(Field::Body), name, extension))
    return reply(answer, kBadRequest, texts::kBadAccessRequest);
  SubAccount *sub = sub_named(session, name, answer);
  if (!sub) return;
  const std::string full = full_access_number(extension);
  if (sub->access_numbers.erase(std::string(extension)) == 0)
    return reply(answer, kNotFound, reason(texts::kNoSuchAccessNumber, full));
  reply(answer, kAccepted, reason(texts::kAccessNumberDeleted, full));
  put_number(answer, Field::Param1, static_cast<int64_t>(sub->access_numbers.size()));
}

// 140: every message row of the account (as LastDetails lays them out),
// in parts of at most 2047 bytes, one part per call and round again.
// Param1 the part, Param2 the number of parts, Param3 the bytes of all.
void transfer(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  std::vector<std::string> parts;
  std::size_t total = 0;
  for (const std::string &row : message_rows(*session.account, "")) {
    total += row.size() + (total == 0 ? 0 : 1);
    if (parts.empty() || parts.back().size() + 1 + row.size() > record::max_text(Field::Body))
      parts.emplace_back();
    else
      parts.back() += ';';
    parts.back() += row;
  }
  if (parts.empty()) {
    reply(answer, kAccepted, "");
    return;  // the three numbers are 0
  }
  int32_t part = session.next_transfer_part;
  if (part < 1 || part > static_cast<int32_t>(parts.size())) part = 1;
  session.next_transfer_part = part % static_cast<int32_t>(parts.size()) + 1;
  reply(answer, kAccepted, parts[part - 1]);
  put_number(answer, Field::Param1, part);
  put_number(answer, Field::Param2, static_cast<int64_t>(parts.size()));
  put_number(answer, Field::Param3, static_cast<int64_t>(total));
}

// 141: entries "id,name,phone"; Param1 the managers listed, Param2 the
// account's sub-accounts, Param3 the number of the account's own manager.
void sales_managers(PlatformState &, Session &session, const CommandRecord &,
                    CommandRecord &answer) {
  reply(answer, kAccepted, texts::kSalesManagers);
  put_number(answer, Field::Param1, 3);
  put_number(answer, Field::Param2, static_cast<int64_t>(session.account->subs.size()));
  put_number(answer, Field::Param3, 2);
}

}  // namespace qv::sim::accounts
