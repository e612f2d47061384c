// The send job: SubmitAllClear opens a job, each field command checks its
// field and stores it when it is well formed, and the overall submit checks
// the job as a whole, sends it and answers its job number.  The job being
// collected belongs to the account, so a relogin in the middle of a job
// keeps the fields already accepted.
#include <algorithm>
#include <set>

#include "formats.h"
#include "replies.h"
#include "sim_texts.h"

namespace qv::sim::send_job {

namespace {

constexpr std::size_t kMaxNumbers = 1000;

// A scheduled period: "YYYY-MM-DD~YYYY-MM-DD HH:MM-HH:MM[,HH:MM-HH:MM]...".
struct Period {
  std::string begin_date, end_date;
  std::vector<std::pair<std::string, std::string>> windows;
};

std::optional<Period> parse_period(std::string_view text) {
  const auto blank = text.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const auto dates = split(text.substr(0, blank), '~');
  if (dates.size() != 2 || !is_date(dates[0]) || !is_date(dates[1]) || dates[0] > dates[1])
    return std::nullopt;
  Period period{std::string(dates[0]), std::string(dates[1]), {}};
  for (const std::string_view window : split(text.substr(blank + 1), ',')) {
    const auto times = split(window, '-');
    if (times.size() != 2 || times[0].size() != 5 || times[1].size() != 5 || !is_time(times[0]) ||
        !is_time(times[1]) || times[0] >= times[1])
      return std::nullopt;
    period.windows.emplace_back(times[0], times[1]);
  }
  return period;
}

bool is_mobile_number(std::string_view n) { return n.size() == 11 && n[0] == '1' && all_digits(n); }

// The job being collected, or a 412 answer when SubmitAllClear has not
// opened one.
JobDraft *open_draft(Session &session, CommandRecord &answer) {
  JobDraft &draft = session.account->draft;
  if (draft.open) return &draft;
  reply(answer, kJobIncomplete, texts::kNoOpenJob);
  return nullptr;
}

// The product a field names, or a 404 answer.
const Product *ordered_product(const AccountState &account, std::string_view id,
                               CommandRecord &answer) {
  const Product *product = find_product(id);
  if (!product)
    reply(answer, kNotFound, reason(texts::kNoSuchProduct, id));
  else if (!account.has_product(id))
    reply(answer, kNotFound, reason(texts::kProductNotOrdered, id));
  else
    return product;
  return nullptr;
}

Labelled product_answer(const Product &p) {
  Labelled body;
  body.add(texts::kLabelProduct, p.id)
      .add(texts::kLabelName, p.name)
      .add(texts::kLabelMaxChars, p.max_chars);
  return body;
}

// Stores a date or time field when `valid` accepts it.
void store_checked(Session &session, const CommandRecord &request, CommandRecord &answer,
                   std::optional<std::string> JobDraft::*field, bool (*valid)(std::string_view),
                   std::string_view refusal) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  const std::string_view text = request.text(Field::Body);
  if (!valid(text)) return reply(answer, kBadRequest, reason(refusal, text));
  draft->*field = std::string(text);
  reply(answer, kAccepted, texts::kFieldAccepted);
}

// A job ready to be sent, or the refusal written into the answer.
struct CheckedJob {
  const Product *product = nullptr;
  std::vector<std::string> recipients;  // distinct numbers, in the order given
  int32_t charged = 0;                  // messages: recipients times segments
};

void missing(CommandRecord &answer, std::string_view field) {
  reply(answer, kJobIncomplete, reason(texts::kMissingField, field));
}

// The checks that ordinary and scheduled jobs share.
std::optional<CheckedJob> check_job(const AccountState &account, CommandRecord &answer) {
  const auto refuse = [&answer](int32_t code, std::string_view why) -> std::optional<CheckedJob> {
    reply(answer, code, why);
    return std::nullopt;
  };
  const auto lacks = [&refuse](std::string_view field) {
    return refuse(kJobIncomplete, reason(texts::kMissingField, field));
  };
  const JobDraft &d = account.draft;
  if (!d.open) return refuse(kJobIncomplete, texts::kNoOpenJob);
  if (!d.product) return lacks(texts::kFieldProduct);
  if (d.numbers.empty()) return lacks(texts::kFieldNumbers);
  if (!d.content) return lacks(texts::kFieldContent);
  CheckedJob job;
  job.product = find_product(*d.product);
  const bool needs_file = job.product->kind == ProductKind::Mms;
  if (job.product->kind == ProductKind::WapPush && !d.push_url) return lacks(texts::kFieldUrl);
  if ((needs_file || !d.file_content.empty()) && !d.file_name) return lacks(texts::kFieldFileName);
  if ((needs_file || d.file_name) && d.file_content.empty()) return lacks(texts::kFieldFileContent);
  if (d.number_count && *d.number_count != static_cast<int32_t>(d.numbers.size()))
    return refuse(kBadRequest, texts::kCountMismatch);
  const std::size_t chars = gbk_length(*d.content);
  if (chars > static_cast<std::size_t>(job.product->max_chars))
    return refuse(kBadRequest,
                  reason(texts::kContentTooLong, std::to_string(job.product->max_chars)));
  if (const std::string_view word = forbidden_keyword(*d.content); !word.empty())
    return refuse(kContentRefused, reason(texts::kForbiddenKeyword, word));
  std::set<std::string_view> seen;
  for (const std::string &n : d.numbers)
    if (seen.insert(n).second) job.recipients.push_back(n);
  job.charged = static_cast<int32_t>(job.recipients.size()) * segments(chars, *job.product);
  return job;
}

SendJob make_job(PlatformState &state, const AccountState &account, const CheckedJob &checked,
                 bool scheduled) {
  SendJob job;
  job.number = state.next_job_number();
  job.product = std::string(checked.product->id);
  job.content = *account.draft.content;
  job.submitted = now_stamp();
  job.scheduled = scheduled;
  for (const std::string &n : checked.recipients) {
    // An ordinary job is delivered at once; numbers ending in 4 stand for
    // the handsets that cannot be reached.  A scheduled job waits.
    const RecipientState state = scheduled         ? RecipientState::Waiting
                                 : n.back() == '4' ? RecipientState::Failed
                                                   : RecipientState::Sent;
    job.recipients.push_back({n, state});
  }
  return job;
}

// Answers an accepted submit: the job number, the recipients, the messages
// charged and what is left (quota or scheduled quantity).
void accepted(CommandRecord &answer, const std::string &job_number, const CheckedJob &job,
              int64_t left) {
  reply(answer, kAccepted, job_number);
  put_number(answer, Field::Param1, static_cast<int64_t>(job.recipients.size()));
  put_number(answer, Field::Param2, job.charged);
  put_number(answer, Field::Param3, left);
}

}  // namespace

std::string_view forbidden_keyword(std::string_view text) {
  for (const std::string_view word : texts::kForbiddenKeywords)
    if (gbk_contains(text, word)) return word;
  return {};
}

int32_t segments(std::size_t chars, const Product &product) {
  const std::size_t per = static_cast<std::size_t>(product.segment_chars);
  return static_cast<int32_t>(std::max<std::size_t>(1, (chars + per - 1) / per));
}

// 298: forgets the fields collected so far and opens a new job.
void clear(PlatformState &, Session &session, const CommandRecord &, CommandRecord &answer) {
  session.account->draft = JobDraft{};
  session.account->draft.open = true;
  reply(answer, kAccepted, texts::kJobCleared);
}

// 201: Body a product id the account has ordered.
void product(PlatformState &, Session &session, const CommandRecord &request,
             CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  const Product *p = ordered_product(*session.account, request.text(Field::Body), answer);
  if (!p) return;
  draft->product = std::string(p->id);
  reply(answer, kAccepted, product_answer(*p).text());
}

// 2011: as 201, without a job and without storing anything.
void check_product(PlatformState &, Session &session, const CommandRecord &request,
                   CommandRecord &answer) {
  if (const Product *p = ordered_product(*session.account, request.text(Field::Body), answer))
    reply(answer, kAccepted, product_answer(*p).text());
}

// 202: Body mobile numbers separated by ','; each call adds to the numbers
// of the job, so a long list can be sent in several records.  One
// malformed number refuses the whole text.
void numbers(PlatformState &, Session &session, const CommandRecord &request,
             CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  std::vector<std::string> added;
  for (const std::string_view n : split(request.text(Field::Body), ',')) {
    if (n.empty()) continue;
    if (!is_mobile_number(n)) return reply(answer, kBadRequest, reason(texts::kBadNumber, n));
    added.emplace_back(n);
  }
  if (added.empty()) return reply(answer, kBadRequest, texts::kNoNumbers);
  if (draft->numbers.size() + added.size() > kMaxNumbers)
    return reply(answer, kBadRequest, reason(texts::kTooManyNumbers, std::to_string(kMaxNumbers)));
  draft->numbers.insert(draft->numbers.end(), added.begin(), added.end());
  Labelled body;
  body.add(texts::kLabelAdded, static_cast<int64_t>(added.size()))
      .add(texts::kLabelTotal, static_cast<int64_t>(draft->numbers.size()));
  reply(answer, kAccepted, body.text());
}

// 203: Body the count of numbers, which the submit compares with the list.
void number_count(PlatformState &, Session &session, const CommandRecord &request,
                  CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  const auto count = parse_count(request.text(Field::Body));
  if (!count)
    return reply(answer, kBadRequest, reason(texts::kBadCount, request.text(Field::Body)));
  draft->number_count = *count;
  reply(answer, kAccepted, texts::kFieldAccepted);
}

// 204: Body the content, not empty.  Keywords are checked by 2041 and by
// the submit.
void content(PlatformState &, Session &session, const CommandRecord &request,
             CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  const std::string_view text = request.text(Field::Body);
  if (text.empty()) return reply(answer, kBadRequest, texts::kEmptyContent);
  draft->content = std::string(text);
  reply(answer, kAccepted,
        Labelled().add(texts::kLabelChars, static_cast<int64_t>(gbk_length(text))).text());
}

// 2041: the keyword check of the job's content.
void check_content(PlatformState &, Session &session, const CommandRecord &,
                   CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  if (!draft->content) return missing(answer, texts::kFieldContent);
  const std::string_view word = forbidden_keyword(*draft->content);
  if (!word.empty()) return reply(answer, kContentRefused, reason(texts::kForbiddenKeyword, word));
  reply(answer, kAccepted, texts::kContentClean);
}

// 205: Body an http:// or https:// URL without blanks.
void push_url(PlatformState &, Session &session, const CommandRecord &request,
              CommandRecord &answer) {
  store_checked(
      session, request, answer, &JobDraft::push_url,
      [](std::string_view url) {
        const bool scheme = url.starts_with("http://") || url.starts_with("https://");
        return scheme && url.find_first_of(" \t\r\n") == std::string_view::npos &&
               url.size() > std::string_view("https://").size();
      },
      texts::kBadUrl);
}

void begin_date(PlatformState &, Session &session, const CommandRecord &request,
                CommandRecord &answer) {
  store_checked(session, request, answer, &JobDraft::begin_date, is_date, texts::kBadDate);
}

void end_date(PlatformState &, Session &session, const CommandRecord &request,
              CommandRecord &answer) {
  store_checked(session, request, answer, &JobDraft::end_date, is_date, texts::kBadDate);
}

void begin_time(PlatformState &, Session &session, const CommandRecord &request,
                CommandRecord &answer) {
  store_checked(session, request, answer, &JobDraft::begin_time, is_time, texts::kBadTime);
}

void end_time(PlatformState &, Session &session, const CommandRecord &request,
              CommandRecord &answer) {
  store_checked(session, request, answer, &JobDraft::end_time, is_time, texts::kBadTime);
}

// 2060: Body the period of a scheduled job.
void period(PlatformState &, Session &session, const CommandRecord &request,
            CommandRecord &answer) {
  store_checked(
      session, request, answer, &JobDraft::period,
      [](std::string_view text) { return parse_period(text).has_value(); }, texts::kBadPeriod);
}

// 211: Body a file name without a directory.
void file_name(PlatformState &, Session &session, const CommandRecord &request,
               CommandRecord &answer) {
  store_checked(
      session, request, answer, &JobDraft::file_name,
      [](std::string_view name) {
        return !name.empty() && name.size() <= 100 &&
               name.find_first_of("/\\") == std::string_view::npos;
      },
      texts::kBadFileName);
}

// 212: Body a part of the file in base64 (whole 4-character groups); each
// call adds to the file, up to the account's multimedia size limit.
void file_content(PlatformState &, Session &session, const CommandRecord &request,
                  CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  const std::string_view part = request.text(Field::Body);
  const auto bytes = base64_decoded_size(part);
  if (part.empty() || !bytes) return reply(answer, kBadRequest, texts::kBadFileContent);
  const std::size_t total = *base64_decoded_size(draft->file_content) + *bytes;
  const std::size_t limit = static_cast<std::size_t>(session.account->account.mms_max_kb) * 1024;
  if (total > limit)
    return reply(answer, kBadRequest, reason(texts::kFileTooLarge, std::to_string(limit)));
  draft->file_content += part;
  Labelled body;
  body.add(texts::kLabelAddedBytes, static_cast<int64_t>(*bytes))
      .add(texts::kLabelTotalBytes, static_cast<int64_t>(total));
  reply(answer, kAccepted, body.text());
}

// 2200: Param1..3 scheduled-order ids, at least one; each must be a valid
// order of the account.
void order_selection(PlatformState &, Session &session, const CommandRecord &request,
                     CommandRecord &answer) {
  JobDraft *draft = open_draft(session, answer);
  if (!draft) return;
  std::vector<std::string> selected;
  const std::string now = today();
  for (const Field f : {Field::Param1, Field::Param2, Field::Param3}) {
    const std::string id(request.text(f));
    if (id.empty()) continue;
    const auto it = session.account->scheduled_orders.find(id);
    if (it == session.account->scheduled_orders.end())
      return reply(answer, kNotFound, reason(texts::kNoSuchScheduledOrder, id));
    if (it->second.end_date < now)
      return reply(answer, kBadRequest, reason(texts::kScheduledOrderExpired, id));
    if (std::find(selected.begin(), selected.end(), id) == selected.end()) selected.push_back(id);
  }
  if (selected.empty()) return reply(answer, kBadRequest, texts::kNoOrderSelected);
  draft->orders = selected;
  std::string ids;
  for (const std::string &id : selected) ids += (ids.empty() ? "" : ",") + id;
  reply(answer, kAccepted, Labelled().add(texts::kLabelScheduledOrders, ids).text());
}

// 299: checks and sends an ordinary job.  Param1 the recipients, Param2
// the messages charged, Param3 the quota left.
void submit(PlatformState &state, Session &session, const CommandRecord &, CommandRecord &answer) {
  AccountState &account = *session.account;
  const JobDraft &d = account.draft;
  if (d.open && (!d.orders.empty() || d.period))
    return reply(answer, kJobIncomplete, texts::kUseScheduledSubmit);
  const auto job = check_job(account, answer);
  if (!job) return;
  if (d.begin_date && d.end_date && *d.begin_date > *d.end_date)
    return reply(answer, kBadRequest, texts::kBadDateRange);
  if (d.end_date && *d.end_date < today()) return reply(answer, kBadRequest, texts::kDateOver);
  if (d.begin_time && d.end_time && seconds_of_day(*d.begin_time) >= seconds_of_day(*d.end_time))
    return reply(answer, kBadRequest, texts::kBadTimeRange);
  if (account.account.quota < job->charged)
    return reply(answer, kShortOfQuantity,
                 reason(texts::kShortOfQuota, std::to_string(account.account.quota)));
  account.account.quota -= job->charged;
  const std::string number = account.add_job(make_job(state, account, *job, false)).number;
  account.draft = JobDraft{};
  accepted(answer, number, *job, account.account.quota);
}

// 2990: checks and schedules a job within its selected orders.  Param3 the
// quantity left in those orders.
void submit_scheduled(PlatformState &state, Session &session, const CommandRecord &,
                      CommandRecord &answer) {
  AccountState &account = *session.account;
  const auto job = check_job(account, answer);
  if (!job) return;
  const JobDraft &d = account.draft;
  if (d.orders.empty()) return missing(answer, texts::kFieldOrders);
  if (!d.period) return missing(answer, texts::kFieldPeriod);
  const Period period = *parse_period(*d.period);
  if (period.end_date < today()) return reply(answer, kBadRequest, texts::kDateOver);
  int64_t left = 0;
  for (const std::string &id : d.orders) {
    const ScheduledOrder &o = account.scheduled_orders.at(id);
    if (o.product != job->product->id)
      return reply(answer, kBadRequest, reason(texts::kOrderProductMismatch, id));
    const bool inside =
        period.begin_date >= o.begin_date && period.end_date <= o.end_date &&
        std::all_of(period.windows.begin(), period.windows.end(), [&o](const auto &w) {
          return w.first >= o.window_begin && w.second <= o.window_end;
        });
    if (!inside) return reply(answer, kBadRequest, reason(texts::kPeriodOutsideOrder, id));
    left += o.quantity - o.used;
  }
  if (left < job->charged)
    return reply(answer, kShortOfQuantity, reason(texts::kShortOfQuantity, std::to_string(left)));
  // Draw on the selected orders in the order they were selected.
  int32_t to_draw = job->charged;
  for (const std::string &id : d.orders) {
    ScheduledOrder &o = account.scheduled_orders.at(id);
    const int32_t drawn = std::min(to_draw, o.quantity - o.used);
    o.used += drawn;
    to_draw -= drawn;
  }
  SendJob sent = make_job(state, account, *job, true);
  sent.period = *d.period;
  sent.orders = d.orders;
  const std::string number = account.add_job(std::move(sent)).number;
  account.draft = JobDraft{};
  accepted(answer, number, *job, left - job->charged);
}

}  // namespace qv::sim::send_job
