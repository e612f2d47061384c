#include "xml/fx_exchange.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "connection/call_outcome.h"
#include "common/decimal.h"
#include "common/fixed_texts.h"
#include "platform/code_page.h"
#include "quorvex.h"
#include "trace/trace.h"
#include "xml/xml_reply.h"

namespace qv::xml {

// The header states the limits to hosts.
static_assert(kMaxBodyLength == QV_FX_REPLY_MAX);
static_assert(kMaxReplyAttributes == QV_FX_ATTRIBUTES_MAX);
static_assert(kMaxReplyDepth == QV_FX_DEPTH_MAX);
static_assert(kMaxReplyNameLength == QV_FX_NAME_MAX);
static_assert(kMaxReplyNamespaces == QV_FX_NAMESPACES_MAX);

namespace {

void put_int32(char *at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((u >> (8 * i)) & 0xff);
}

int32_t get_int32(const unsigned char *at) {
  return static_cast<int32_t>(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
                              uint32_t(at[3]) << 24);
}

// The longest start of a GBK text that has at most limit bytes and does
// not end inside a double-byte character.
std::string cut_gbk(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = 0;
  while (end < limit) {
    const bool lead = static_cast<unsigned char>(text[end]) >= 0x81 &&
                      static_cast<unsigned char>(text[end]) <= 0xfe;
    const size_t step = lead ? 2 : 1;
    if (end + step > limit) break;
    end += step;
  }
  text.resize(end);
  return text;
}

}  // namespace

namespace {

// Where a password may lie in a reply body: the content of a <pwd>.
std::pair<size_t, size_t> password_range(std::string_view body) {
  const size_t open = body.find("<pwd>");
  if (open == std::string_view::npos) return {0, 0};
  const size_t from = open + 5;
  const size_t close = body.find("</pwd>", from);
  return {from, (close == std::string_view::npos ? body.size() : close) - from};
}

// A document as the trace shows it: UTF-8 as it is, anything else read as
// GBK (the protocol's declared encoding), the secret range masked.
std::string shown_document(std::string_view body, trace::Secret secret) {
  std::string text(body);
  if (secret.size && secret.at + secret.size <= text.size())
    text.replace(secret.at, secret.size, "***");
  return trace::quoted(text, true);
}

std::string shown_reply(std::string_view body) {
  const auto [at, size] = password_range(body);
  return shown_document(body, {at, size});
}

std::string request_line(int32_t code, std::string_view body, trace::Secret secret) {
  std::string line =
      "xml > code " + std::to_string(code) + " length " + std::to_string(body.size());
  if (!body.empty()) line.append(" ").append(shown_document(body, secret));
  return line;
}

}  // namespace

RequestOutcome request(connection::Session &session, int32_t code, std::string_view body,
                       Reply &reply, trace::Secret secret) {
  using connection::Error;
  auto &tcp = session.tcp_client;
  const int64_t start = trace::on() ? trace::now_us() : 0;
  try {
    std::string message(kHeaderSize + body.size(), '\0');
    put_int32(&message[0], code);
    put_int32(&message[4], 1);
    put_int32(&message[8], 1);
    put_int32(&message[12], static_cast<int32_t>(body.size()));
    std::copy(body.begin(), body.end(), message.begin() + kHeaderSize);
    // A call that reaches the connection while another thread disconnects
    // or destroys the session ends as the one blocked on it did.
    if (session.disconnect_requested()) throw connection::interrupted();
    if (!tcp) throw connection::not_initialised(text::kNotConnected);
    // One look at the trace for the whole write, as for a record.
    trace::Outgoing out = trace::Outgoing::now();
    if (out.dump) out.mask(kHeaderSize + secret.at, secret.size);
    trace::event_if_on([&] { return request_line(code, body, secret); });
    tcp->write(message.data(), message.size(), out);
  } catch (const std::exception &e) {
    reply.error = connection::as_error(e);
    return RequestOutcome::WriteFailed;
  }
  try {
    unsigned char header[kHeaderSize];
    tcp->read_exact(header, sizeof header);
    reply.code = get_int32(header);
    reply.length = get_int32(header + 12);
    trace::event_if_on([&] {
      return "xml < code " + std::to_string(reply.code) + " length " +
             std::to_string(reply.length) + " in " + trace::elapsed_since(start);
    });
  } catch (const std::exception &e) {
    reply.error = connection::as_error(e);
    return RequestOutcome::ReadFailed;
  }
  if (reply.length <= 0) return RequestOutcome::Replied;  // no body follows
  if (reply.length > kMaxBodyLength) {
    tcp->abandon();  // the body cannot be skipped, so the stream's position is lost
    reply.error = Error("The reply announces a body longer than the library reads.");
    return RequestOutcome::Replied;
  }
  try {
    reply.body.resize(static_cast<size_t>(reply.length));
    tcp->read_exact(reply.body.data(), reply.body.size());
    reply.body_read = true;
    trace::event_if_on(
        [&] { return "xml < " + shown_reply(reply.body) + " in " + trace::elapsed_since(start); });
  } catch (const std::exception &e) {
    tcp->abandon();
    reply.body.clear();
    reply.error = connection::as_error(e);
  }
  return RequestOutcome::Replied;
}

bool ReplyDocument::parse(std::string_view body, std::vector<std::string_view> names) {
  names_ = std::move(names);
  body_size_ = body.size();
  values_.assign(names_.size(), platform::XmlValue{});
  const std::optional<ReplyEncoding> encoding = reply_encoding(body);
  if (!encoding || !within_reply_limits(body, *encoding)) return false;
  return platform::read_xml_values(body, *encoding, kMaxReplyDepth, names_, values_);
}

std::optional<std::string> ReplyDocument::value(std::string_view name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] != name) continue;
    const platform::XmlValue &v = values_[i];
    if (v.kind == platform::XmlValue::Kind::Invalid) throw ParseError{};
    if (v.kind != platform::XmlValue::Kind::Text || v.text.empty()) return std::nullopt;
    std::string text = platform::utf8_to_gbk(v.text);
    if (text.size() > body_size_) {
      // The call still succeeds (a buffer sized from the reply length stays
      // safe), and its outcome says what was lost.
      const size_t full = text.size();
      text = cut_gbk(std::move(text), body_size_);
      connection::note_text_cut(name, full, text.size());
    }
    return text;
  }
  return std::nullopt;
}

std::optional<int32_t> ReplyDocument::number(std::string_view name) const {
  const std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  int32_t v = 0;
  if (!parse_int32(*text, v)) throw ParseError{};
  return v;
}

}  // namespace qv::xml
