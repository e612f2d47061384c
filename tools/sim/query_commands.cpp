// Queries of the client, its products, information packages, notices,
// last messages and scheduled orders; the content preview and check; the
// merchant parameters and the interface controls.
#include <algorithm>

#include "formats.h"
#include "replies.h"
#include "sim_texts.h"

namespace qv::sim::queries {

namespace {

constexpr std::size_t kBodyMax = record::max_text(Field::Body);
constexpr int32_t kMaxDetails = 20;

std::string joined(const std::vector<std::string> &entries) {
  return join_fitting(entries, kBodyMax);
}

// The entries of the account's products, one per product, made by `entry`.
template <typename Entry>
std::vector<std::string> product_entries(const AccountState &account, Entry entry) {
  std::vector<std::string> entries;
  for (const std::string &id : account.products)
    if (const Product *p = find_product(id)) entries.push_back(entry(*p));
  return entries;
}

// The product a check names: its id, or the account's first product when
// the id is empty or 0.  Answers 404 when it is unknown or not ordered.
const Product *checked_product(const AccountState &account, std::string_view id,
                               CommandRecord &answer) {
  if (id.empty() || id == "0") id = account.products.front();
  const Product *product = find_product(id);
  if (!product || !account.has_product(id)) {
    reply(answer, kNotFound, reason(texts::kNoSuchProduct, id));
    return nullptr;
  }
  return product;
}

std::string signed_content(const AccountState &account, std::string_view content) {
  return std::string(content) + std::string(texts::kSignOpen) + account.account.company +
         std::string(texts::kSignClose);
}

struct ReportCounts {
  int sent = 0, failed = 0, waiting = 0;
};

ReportCounts count_states(const SendJob &job) {
  ReportCounts counts;
  for (const Recipient &r : job.recipients) {
    if (r.state == RecipientState::Sent)
      ++counts.sent;
    else if (r.state == RecipientState::Failed)
      ++counts.failed;
    else
      ++counts.waiting;
  }
  return counts;
}

// The summary of a job's send report.
Labelled report_summary(const SendJob &job) {
  const ReportCounts counts = count_states(job);
  Labelled summary;
  summary.add(texts::kLabelJob, job.number)
      .add(texts::kLabelProduct, job.product)
      .add(texts::kLabelSubmitted, job.submitted)
      .add(texts::kLabelNumberCount, static_cast<int64_t>(job.recipients.size()))
      .add(texts::kLabelSent, counts.sent)
      .add(texts::kLabelFailed, counts.failed)
      .add(texts::kLabelWaiting, counts.waiting);
  return summary;
}

// The job named by the request's Body, or a 404 answer.
const SendJob *requested_job(const Session &session, const CommandRecord &request,
                             CommandRecord &answer) {
  const std::string_view number = request.text(Field::Body);
  const SendJob *job = session.account->find_job(number);
  if (!job) reply(answer, kNotFound, reason(texts::kNoSuchJob, number));
  return job;
}

bool scheduled_order_valid(const ScheduledOrder &order) { return order.end_date >= today(); }

}  // namespace

std::string notices_text(const AccountState &account) {
  std::vector<std::string> entries;
  for (auto it = account.notices.rbegin(); it != account.notices.rend(); ++it)
    entries.push_back(it->date + "," + it->text);
  return joined(entries);
}

// 121: the account as label:value pairs.
void client_info(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  const AccountState &a = *session.account;
  std::string products;
  for (const std::string &id : a.products) products += (products.empty() ? "" : ",") + id;
  Labelled body;
  body.add(texts::kLabelAccount, a.account.name)
      .add(texts::kLabelCompany, a.account.company)
      .add(texts::kLabelId, a.account.id)
      .add(texts::kLabelContact, texts::kClientContact)
      .add(texts::kLabelAccessNumber, kAccessNumber)
      .add(texts::kLabelQuota, a.account.quota)
      .add(texts::kLabelLevel, a.account.level)
      .add(texts::kLabelSubCount, static_cast<int64_t>(a.subs.size()))
      .add(texts::kLabelProducts, products);
  reply(answer, kAccepted, body.text());
}

// 122: the ids of the whole catalogue.
void company_products(PlatformState &, Session &, const CommandRecord &, CommandRecord &answer) {
  std::vector<std::string> ids;
  for (const Product &p : catalogue()) ids.emplace_back(p.id);
  reply(answer, kAccepted, joined(ids));
}

// 1220: the ids of the account's products.
void client_products(PlatformState &, Session &session, const CommandRecord &,
                     CommandRecord &answer) {
  reply(answer, kAccepted, joined(session.account->products));
}

// 1221: "id,name" per product.
void client_product_names(PlatformState &, Session &session, const CommandRecord &,
                          CommandRecord &answer) {
  reply(answer, kAccepted, joined(product_entries(*session.account, [](const Product &p) {
          return std::string(p.id) + "," + std::string(p.name);
        })));
}

// 1222: "id,name,size limit in KB,max characters" per multimedia product.
void client_mms_products(PlatformState &, Session &session, const CommandRecord &,
                         CommandRecord &answer) {
  const int32_t kb = session.account->account.mms_max_kb;
  std::vector<std::string> entries;
  for (const std::string &entry : product_entries(*session.account, [kb](const Product &p) {
         if (p.kind != ProductKind::Mms) return std::string();
         return std::string(p.id) + "," + std::string(p.name) + "," + std::to_string(kb) + "," +
                std::to_string(p.max_chars);
       }))
    if (!entry.empty()) entries.push_back(entry);
  reply(answer, kAccepted, joined(entries));
}

// 1223: "id,name,kind" per product.
void client_product_types(PlatformState &, Session &session, const CommandRecord &,
                          CommandRecord &answer) {
  reply(answer, kAccepted, joined(product_entries(*session.account, [](const Product &p) {
          return std::string(p.id) + "," + std::string(p.name) + "," +
                 std::string(kind_name(p.kind));
        })));
}

// 123: Body the product id.
void product_info(PlatformState &, Session &session, const CommandRecord &request,
                  CommandRecord &answer) {
  const std::string_view id = request.text(Field::Body);
  const Product *p = find_product(id);
  if (!p) return reply(answer, kNotFound, reason(texts::kNoSuchProduct, id));
  Labelled body;
  body.add(texts::kLabelId, p->id)
      .add(texts::kLabelName, p->name)
      .add(texts::kLabelKind, kind_name(p->kind))
      .add(texts::kLabelMaxChars, p->max_chars)
      .add(texts::kLabelSegmentChars, p->segment_chars)
      .add(texts::kLabelPrice, p->price_fen)
      .add(texts::kLabelOrdered, session.account->has_product(id) ? texts::kYes : texts::kNo);
  reply(answer, kAccepted, body.text());
}

// 124: the information packages (the jobs sent), newest first.
void packages(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  std::vector<std::string> numbers;
  for (auto it = session.account->jobs.rbegin(); it != session.account->jobs.rend(); ++it)
    numbers.push_back(it->number);
  reply(answer, kAccepted, joined(numbers));
}

// 125: Body the package (job) number; the report's summary.
void package_report(PlatformState &, Session &session, const CommandRecord &request,
                    CommandRecord &answer) {
  if (const SendJob *job = requested_job(session, request, answer))
    reply(answer, kAccepted, report_summary(*job).text());
}

// 1250: the summary followed by "number,state,carrier" per recipient.
void package_report_full(PlatformState &, Session &session, const CommandRecord &request,
                         CommandRecord &answer) {
  const SendJob *job = requested_job(session, request, answer);
  if (!job) return;
  const std::string summary = report_summary(*job).text();
  std::vector<std::string> rows;
  for (const Recipient &r : job->recipients)
    rows.push_back(r.number + "," + std::to_string(static_cast<int>(r.state)) + "," +
                   std::string(carrier_of(r.number)));
  reply(answer, kAccepted, summary + ";" + join_fitting(rows, kBodyMax - summary.size() - 1));
}

// 127: "date,text" per notice, newest first.
void notices(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  reply(answer, kAccepted, notices_text(*session.account));
}

// 128: Body the beginning of the numbers wanted (empty: all), Param1 how
// many rows, 1 to 20.
void last_details(PlatformState &, Session &session, const CommandRecord &request,
                  CommandRecord &answer) {
  const std::string_view prefix = request.text(Field::Body);
  const auto count = parse_count(request.text(Field::Param1));
  if (!all_digits(prefix)) return reply(answer, kBadRequest, texts::kBadNumberQuery);
  if (!count || *count < 1 || *count > kMaxDetails)
    return reply(answer, kBadRequest, texts::kBadDetailCount);
  std::vector<std::string> rows = message_rows(*session.account, prefix);
  if (rows.size() > static_cast<std::size_t>(*count)) rows.resize(*count);
  reply(answer, kAccepted, joined(rows));
}

// 129: the characters of the send job's product, or of the account's
// first product while the job names none.
void product_length(PlatformState &, Session &session, const CommandRecord &,
                    CommandRecord &answer) {
  const AccountState &a = *session.account;
  const Product *p = find_product(a.draft.product.value_or(a.products.front()));
  reply(answer, kAccepted, std::to_string(p ? p->max_chars : 0));
}

// 1500: Param1 a product id (empty: all), Param2 "1" valid, "0" expired,
// empty: all.  Entries "id,product,begin~end,window,quantity,used,1|0".
void scheduled_orders(PlatformState &, Session &session, const CommandRecord &request,
                      CommandRecord &answer) {
  const std::string_view product = request.text(Field::Param1);
  const std::string_view state = request.text(Field::Param2);
  if (!state.empty() && state != "0" && state != "1")
    return reply(answer, kBadRequest, texts::kBadOrderState);
  std::vector<std::string> entries;
  for (const auto &[id, o] : session.account->scheduled_orders) {
    const bool valid = scheduled_order_valid(o);
    if ((!product.empty() && o.product != product) || (!state.empty() && valid != (state == "1")))
      continue;
    entries.push_back(id + "," + o.product + "," + o.begin_date + "~" + o.end_date + "," +
                      o.window_begin + "-" + o.window_end + "," + std::to_string(o.quantity) + "," +
                      std::to_string(o.used) + "," + (valid ? "1" : "0"));
  }
  reply(answer, kAccepted, joined(entries));
}

// 1510: Param1 the order id; Param2 and Param3 optional dates bounding the
// submit dates of the jobs listed.
void scheduled_order(PlatformState &, Session &session, const CommandRecord &request,
                     CommandRecord &answer) {
  const std::string id(request.text(Field::Param1));
  const std::string_view from = request.text(Field::Param2), to = request.text(Field::Param3);
  const auto &orders = session.account->scheduled_orders;
  const auto it = orders.find(id);
  if (it == orders.end()) return reply(answer, kNotFound, reason(texts::kNoSuchScheduledOrder, id));
  if ((!from.empty() && !is_date(from)) || (!to.empty() && !is_date(to)))
    return reply(answer, kBadRequest, texts::kBadDate);
  const ScheduledOrder &o = it->second;
  std::string jobs;
  for (const SendJob &job : session.account->jobs) {
    const std::string day = job.submitted.substr(0, 10);
    if (std::find(job.orders.begin(), job.orders.end(), id) == job.orders.end()) continue;
    if ((!from.empty() && day < from) || (!to.empty() && day > to)) continue;
    jobs += (jobs.empty() ? "" : ",") + job.number;
  }
  Labelled body;
  body.add(texts::kLabelId, id)
      .add(texts::kLabelProduct, o.product)
      .add(texts::kLabelEffective, o.begin_date + "~" + o.end_date)
      .add(texts::kLabelWindow, o.window_begin + "-" + o.window_end)
      .add(texts::kLabelQuantityTotal, o.quantity)
      .add(texts::kLabelUsed, o.used)
      .add(texts::kLabelState, scheduled_order_valid(o) ? texts::kValid : texts::kExpired)
      .add(texts::kLabelJobs, jobs);
  reply(answer, kAccepted, body.text());
}

void scheduling_url(PlatformState &, Session &session, const CommandRecord &,
                    CommandRecord &answer) {
  reply(answer, kAccepted, std::string(texts::kSchedulingUrl) + session.account->account.name);
}

// 160: Body the content, Param1 a product id (empty: the first product).
// Body the message as it arrives (the company's signature appended),
// Param1 its characters, Param2 the messages it takes.
void content_preview(PlatformState &, Session &session, const CommandRecord &request,
                     CommandRecord &answer) {
  const std::string_view content = request.text(Field::Body);
  const Product *product = checked_product(*session.account, request.text(Field::Param1), answer);
  if (!product) return;
  if (content.empty()) return reply(answer, kBadRequest, texts::kEmptyContent);
  const std::string preview = signed_content(*session.account, content);
  const std::size_t chars = gbk_length(preview);
  reply(answer, kAccepted, preview);
  put_number(answer, Field::Param1, static_cast<int64_t>(chars));
  put_number(answer, Field::Param2, send_job::segments(chars, *product));
}

// 161: the merchant id, the access number and the interface version.
void merchant_params(PlatformState &, Session &session, const CommandRecord &,
                     CommandRecord &answer) {
  const std::string merchant = "SJ" + session.account->account.id;
  Labelled body;
  body.add(texts::kLabelMerchant, merchant)
      .add(texts::kLabelAccessNumber, kAccessNumber)
      .add(texts::kLabelVersion, "2.0");
  reply(answer, kAccepted, body.text());
  put_param(answer, Field::Param1, merchant);
  put_param(answer, Field::Param2, kAccessNumber);
  put_param(answer, Field::Param3, "2.0");
}

void merchant_bid(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  reply(answer, kAccepted, "BID" + session.account->account.id);
}

// 1700: Body the content; Param1 a product id (0: the first product),
// Param2 1 to count the signature in, Param3 0 for a short verdict in
// Param1.  900 when the content may be sent, 406 for a forbidden keyword,
// 400 when it is empty or too long for the product.
void check_sms_content(PlatformState &, Session &session, const CommandRecord &request,
                       CommandRecord &answer) {
  const auto product_number = parse_signed(request.text(Field::Param1));
  const auto signature = parse_signed(request.text(Field::Param2));
  if (!product_number || !signature || !parse_signed(request.text(Field::Param3)))
    return reply(answer, kBadRequest, texts::kBadCheckNumbers);
  const Product *product =
      checked_product(*session.account, std::to_string(*product_number), answer);
  if (!product) return;
  const std::string_view content = request.text(Field::Body);
  if (content.empty()) return reply(answer, kBadRequest, texts::kEmptyContent);
  const std::size_t chars = gbk_length(*signature == 1 ? signed_content(*session.account, content)
                                                       : std::string(content));
  const int32_t segments = send_job::segments(chars, *product);
  Labelled body;
  body.add(texts::kLabelChars, static_cast<int64_t>(chars)).add(texts::kLabelSegments, segments);
  const std::string_view keyword = send_job::forbidden_keyword(content);
  if (!keyword.empty()) {
    reply(answer, kContentRefused, body.add(texts::kLabelKeyword, keyword).text());
    put_param(answer, Field::Param1, texts::kVerdictKeyword);
  } else if (chars > static_cast<std::size_t>(product->max_chars)) {
    reply(answer, kBadRequest, body.add(texts::kLabelKeyword, texts::kNone).text());
    put_param(answer, Field::Param1, texts::kVerdictTooLong);
  } else {
    reply(answer, kAccepted, body.add(texts::kLabelKeyword, texts::kNone).text());
    put_param(answer, Field::Param1,
              std::string(texts::kVerdictPass) + "," + std::to_string(chars));
  }
  put_number(answer, Field::Param2, static_cast<int64_t>(chars));
  put_number(answer, Field::Param3, segments);
}

// 1800: which parts of the client's interface are on (1) or off (0);
// scheduling needs level 2 or above.
void gui_control(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  const bool scheduling = session.account->account.level >= 2;
  Labelled body;
  body.add(texts::kLabelSending, 1)
      .add(texts::kLabelScheduling, scheduling ? 1 : 0)
      .add(texts::kLabelSubAccounts, 1)
      .add(texts::kLabelMms, 1)
      .add(texts::kLabelReports, 1);
  reply(answer, kAccepted, body.text());
}

}  // namespace qv::sim::queries
