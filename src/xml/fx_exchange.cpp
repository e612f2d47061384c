#include "xml/fx_exchange.h"

#include <algorithm>

#include "common/decimal.h"
#include "connection/client_context.h"

namespace qv::xml {
namespace {

void put_int32(char *at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((u >> (8 * i)) & 0xff);
}

int32_t get_int32(const unsigned char *at) {
  return static_cast<int32_t>(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
                              uint32_t(at[3]) << 24);
}

bool is_blank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// The longest start of a GBK text that has at most limit bytes and does
// not end inside a double-byte character.
std::string cut_gbk(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = 0;
  while (end < limit) {
    const bool lead = static_cast<unsigned char>(text[end]) >= 0x81 && static_cast<unsigned char>(text[end]) <= 0xfe;
    const size_t step = lead ? 2 : 1;
    if (end + step > limit) break;
    end += step;
  }
  text.resize(end);
  return text;
}

}  // namespace

RequestOutcome request(int32_t code, std::string_view body, Reply &reply) {
  auto &tcp = connection::context().tcp_client;
  try {
    std::string message(kHeaderSize + body.size(), '\0');
    put_int32(&message[0], code);
    put_int32(&message[4], 1);
    put_int32(&message[8], 1);
    put_int32(&message[12], static_cast<int32_t>(body.size()));
    std::copy(body.begin(), body.end(), message.begin() + kHeaderSize);
    if (!tcp) return RequestOutcome::WriteFailed;
    tcp->write(message.data(), message.size());
  } catch (const std::exception &) {
    return RequestOutcome::WriteFailed;
  }
  try {
    unsigned char header[kHeaderSize];
    tcp->read_exact(header, sizeof header);
    reply.code = get_int32(header);
    reply.length = get_int32(header + 12);
  } catch (const std::exception &) {
    return RequestOutcome::ReadFailed;
  }
  if (reply.length <= 0) return RequestOutcome::Replied;  // no body follows
  if (reply.length > kMaxBodyLength) {
    tcp->abandon();  // the body cannot be skipped, so the stream's position is lost
    return RequestOutcome::Replied;
  }
  try {
    reply.body.resize(static_cast<size_t>(reply.length));
    tcp->read_exact(reply.body.data(), reply.body.size());
    reply.body_read = true;
  } catch (const std::exception &) {
    tcp->abandon();
    reply.body.clear();
  }
  return RequestOutcome::Replied;
}

bool ReplyDocument::parse(std::string_view body) {
  // Three levels: the root, its children and their content.
  if (!platform::parse_xml(body, 2, root_)) return false;
  body_size_ = body.size();
  // Whitespace-only text nodes carry no value; dropping them here, rather
  // than in a parser, gives every backend the same answer.
  for (platform::XmlNode &child : root_.children) {
    auto &kids = child.children;
    kids.erase(std::remove_if(kids.begin(), kids.end(),
                              [](const platform::XmlNode &n) {
                                return n.kind == platform::XmlNode::Kind::Text && is_blank(n.text);
                              }),
               kids.end());
  }
  return true;
}

std::optional<std::string> ReplyDocument::value(std::string_view name) const {
  const auto child = std::find_if(root_.children.begin(), root_.children.end(), [&](const platform::XmlNode &n) {
    return n.kind == platform::XmlNode::Kind::Element && (n.name == name || n.local_name == name);
  });
  if (child == root_.children.end() || child->children.empty()) return std::nullopt;
  if (child->children.size() > 1) throw ParseError{};
  const platform::XmlNode &only = child->children.front();
  if (only.kind != platform::XmlNode::Kind::Text && only.kind != platform::XmlNode::Kind::CData)
    throw ParseError{};
  if (only.text.empty()) return std::nullopt;
  return cut_gbk(platform::utf8_to_gbk(only.text), body_size_);
}

std::optional<int32_t> ReplyDocument::number(std::string_view name) const {
  const std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  int32_t v = 0;
  if (!parse_int32(*text, v)) throw ParseError{};
  return v;
}

}  // namespace qv::xml
