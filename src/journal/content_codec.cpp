#include "journal/content_codec.h"

#include <cstdint>
#include <cstring>

namespace qv::journal {

namespace {

// The layout's own number: a content of another layout is refused, never
// guessed at.
constexpr uint8_t kLayout = 1;

void put_u32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void put_text(std::string &out, std::string_view text) {
  put_u32(out, static_cast<uint32_t>(text.size()));
  out.append(text);
}

// Reads from the front of bytes; every read checks what is left.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool u8(uint8_t &v) {
    if (rest_.empty()) return false;
    v = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return true;
  }
  bool u32(uint32_t &v) {
    if (rest_.size() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(rest_[i])} << (8 * i);
    rest_.remove_prefix(4);
    return true;
  }
  bool text(std::string &out, uint32_t limit) {
    uint32_t n = 0;
    if (!u32(n) || n > limit || n > rest_.size()) return false;
    out.assign(rest_.data(), n);
    rest_.remove_prefix(n);
    return true;
  }
  bool done() const { return rest_.empty(); }
  size_t left() const { return rest_.size(); }

 private:
  std::string_view rest_;
};

// No field of a job is longer than a message body; the file has its own
// limit.
constexpr uint32_t kTextLimit = QV_BODY_BUFFER_SIZE;

}  // namespace

std::string encode_content(const jobs::Content &content) {
  std::string out;
  out.push_back(static_cast<char>(kLayout));
  for (size_t f = 1; f < content.texts.size(); ++f) put_text(out, content.texts[f]);
  put_u32(out, static_cast<uint32_t>(content.numbers.size()));
  for (const std::string &n : content.numbers) put_text(out, n);
  put_text(out, content.file);
  out.push_back(static_cast<char>((content.check ? 1 : 0) | (content.evidence ? 2 : 0)));
  put_u32(out, static_cast<uint32_t>(content.wait_ms));
  return out;
}

std::optional<jobs::Content> decode_content(std::string_view bytes, std::string &why) {
  Reader in(bytes);
  jobs::Content c;
  uint8_t layout = 0, flags = 0;
  uint32_t count = 0, wait = 0;
  if (!in.u8(layout) || layout != kLayout) {
    why = "a job's content of an unknown layout";
    return std::nullopt;
  }
  bool ok = true;
  for (size_t f = 1; ok && f < c.texts.size(); ++f) ok = in.text(c.texts[f], kTextLimit);
  // Each number takes four bytes at least: a count beyond what is left is
  // refused before anything is made for it.
  ok = ok && in.u32(count) && count <= QV_JOB_NUMBERS_MAX && count <= in.left() / 4;
  if (ok) c.numbers.resize(count);
  for (uint32_t i = 0; ok && i < count; ++i) ok = in.text(c.numbers[i], kTextLimit);
  ok = ok && in.text(c.file, QV_JOB_FILE_MAX) && in.u8(flags) && flags <= 3 && in.u32(wait) &&
       wait <= INT32_MAX && in.done();
  if (!ok) {
    why = "a job's content cut short or damaged";
    return std::nullopt;
  }
  c.check = (flags & 1) != 0;
  c.evidence = (flags & 2) != 0;
  c.wait_ms = static_cast<int32_t>(wait);
  return c;
}

std::string encode_evidence(const jobs::Evidence &evidence) {
  std::string out;
  out.push_back(static_cast<char>(kLayout));
  for (const std::optional<std::string> &e : evidence) {
    out.push_back(e ? 1 : 0);
    if (e) put_text(out, *e);
  }
  return out;
}

std::optional<jobs::Evidence> decode_evidence(std::string_view bytes, std::string &why) {
  jobs::Evidence evidence;
  if (bytes.empty()) return evidence;
  Reader in(bytes);
  uint8_t layout = 0;
  bool ok = in.u8(layout) && layout == kLayout;
  for (std::optional<std::string> &e : evidence) {
    uint8_t present = 0;
    ok = ok && in.u8(present) && present <= 1;
    if (ok && present == 1) ok = in.text(e.emplace(), kTextLimit);
  }
  if (!ok || !in.done()) {
    why = "a job's evidence cut short or damaged";
    return std::nullopt;
  }
  return evidence;
}

}  // namespace qv::journal
