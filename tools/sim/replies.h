// What every command handler of the record protocol shares: its signature,
// the helpers that fill an answer within its fields, and the handlers of
// each command family (one source file per family).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "commands.h"

namespace qv::sim {

using record::CommandRecord;
using record::Field;

using Handler = void (*)(PlatformState &, Session &, const CommandRecord &request,
                         CommandRecord &answer);

// Sets Code and Body (cut at a character boundary to fit its 2047 bytes)
// and BodyLen to the length of Body.
void reply(CommandRecord &answer, int32_t code, std::string_view body);
// A Param text, cut at a character boundary to fit its 19 bytes.
void put_param(CommandRecord &answer, Field field, std::string_view text);
void put_number(CommandRecord &answer, Field field, int64_t number);

// "label:value" pairs separated by ';', the layout of every record answer
// that describes one thing.
class Labelled {
 public:
  Labelled &add(std::string_view label, std::string_view value);
  Labelled &add(std::string_view label, int64_t value) { return add(label, std::to_string(value)); }
  const std::string &text() const { return text_; }

 private:
  std::string text_;
};

// The Body text of every refusal when the body alone would not say which
// thing was refused: the reason followed by the thing.
std::string reason(std::string_view why, std::string_view what);

// Sub-accounts, the account's password, sales managers, Transfer.
namespace accounts {
void edit_password(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void add_sub(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void add_sub_with_id(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void add_sub_account(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void enable_sub(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void increase_sub_buy(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void reduce_sub_buy(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void list_subs(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void list_subs_counted(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void sub_info(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void sub_info_full(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void sub_orders(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void sub_order(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void edit_sub_password(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void add_access_number(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void delete_access_number(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void transfer(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void sales_managers(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
}  // namespace accounts

// Client, product, package, notice and scheduled-order queries; content
// checks and the account's parameters.
namespace queries {
void client_info(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void company_products(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void client_products(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void client_product_names(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void client_mms_products(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void client_product_types(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void product_info(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void packages(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void package_report(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void package_report_full(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void notices(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void last_details(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void product_length(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void scheduled_orders(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void scheduled_order(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void scheduling_url(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void content_preview(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void merchant_params(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void merchant_bid(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void check_sms_content(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void gui_control(PlatformState &, Session &, const CommandRecord &, CommandRecord &);

// Shared with the XML protocol: the notices as one text, newest first.
std::string notices_text(const AccountState &account);
}  // namespace queries

// The send job: its fields, the two checks and the overall submits.
namespace send_job {
void clear(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void product(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void check_product(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void numbers(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void number_count(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void content(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void check_content(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void push_url(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void begin_date(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void period(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void end_date(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void begin_time(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void end_time(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void file_name(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void file_content(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void order_selection(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void submit(PlatformState &, Session &, const CommandRecord &, CommandRecord &);
void submit_scheduled(PlatformState &, Session &, const CommandRecord &, CommandRecord &);

// The first forbidden keyword in a GBK text, empty when there is none.
std::string_view forbidden_keyword(std::string_view text);
// Messages charged for one recipient of a content of `chars` characters:
// one per segment_chars begun, at least one.
int32_t segments(std::size_t chars, const Product &product);
}  // namespace send_job

}  // namespace qv::sim
