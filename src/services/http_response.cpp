#include "services/http_response.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace qv::services {
namespace {

// A response the reader refuses; caught at the top and turned into nothing.
struct Refused {};

// The body as it is read: at most `keep` bytes, and never more than
// kMaxBodyBytes of them.
class Body {
 public:
  explicit Body(size_t keep) : keep_(keep) {}
  bool full() const { return bytes_.size() >= keep_; }
  size_t size() const { return bytes_.size(); }
  size_t room() const { return keep_ - bytes_.size(); }
  // Refuses a body that `more` further bytes would push past the bound,
  // unless the keep stops reading first.
  void admit(uint64_t more) const {
    if (keep_ > kMaxBodyBytes && more > kMaxBodyBytes - bytes_.size()) throw Refused{};
  }
  void append(const char *data, size_t n) {
    admit(n);
    bytes_.append(data, n);
  }
  void reserve(uint64_t expected) {
    bytes_.reserve(std::min<uint64_t>({expected, keep_, uint64_t{1} << 20}));
  }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
  size_t keep_;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

bool contains_ignoring_case(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (same_ignoring_case(text.substr(i, word.size()), word)) return true;
  return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A buffered reader over the source that keeps count of what each part of
// the response has cost.
class Reader {
 public:
  explicit Reader(ByteSource &source) : source_(source) {}

  // One line without its LF and the CR before it, charged to budget.  The
  // end of the stream before the LF refuses the response.
  std::string line(size_t &budget) {
    std::string out;
    for (;;) {
      if (begin_ == end_ && !fill()) throw Refused{};
      const char *start = buffer_ + begin_;
      const auto *lf = static_cast<const char *>(std::memchr(start, '\n', end_ - begin_));
      const size_t n = lf ? static_cast<size_t>(lf - start) : end_ - begin_;
      // The CR before the LF may still be in out: allow one byte for it.
      if (out.size() + n > kMaxHeaderLineBytes + 1 || out.size() + n + 1 > budget) throw Refused{};
      out.append(start, n);
      begin_ += n;
      if (lf) {
        ++begin_;
        budget -= out.size() + 1;
        if (!out.empty() && out.back() == '\r') out.pop_back();
        if (out.size() > kMaxHeaderLineBytes) throw Refused{};
        return out;
      }
    }
  }

  // Exactly n more bytes; a stream that ends before refuses the response.
  void exactly(size_t n, Body &out) {
    while (n > 0) {
      if (begin_ == end_ && !fill()) throw Refused{};
      const size_t take = std::min(n, end_ - begin_);
      out.append(buffer_ + begin_, take);
      begin_ += take;
      n -= take;
    }
  }

  // Everything up to the end of the stream, or until the body is full.
  void to_end(Body &out) {
    while (!out.full()) {
      if (begin_ == end_ && !fill()) return;
      const size_t take = std::min(out.room(), end_ - begin_);
      out.append(buffer_ + begin_, take);
      begin_ += take;
    }
  }

 private:
  bool fill() {
    const size_t n = source_.read(buffer_, sizeof buffer_);
    begin_ = 0;
    end_ = std::min(n, sizeof buffer_);
    return end_ > 0;
  }

  ByteSource &source_;
  char buffer_[16384];
  size_t begin_ = 0;
  size_t end_ = 0;
};

struct Head {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> fields;  // name, value
};

// "HTTP/<digit>.<digit> <three digits>[ <reason>]"; the status, or -1.
int parse_status_line(std::string_view line) {
  constexpr std::string_view kPrefix = "HTTP/";
  if (line.size() < 12 || line.substr(0, 5) != kPrefix) return -1;
  if (!is_digit(line[5]) || line[6] != '.' || !is_digit(line[7]) || line[8] != ' ') return -1;
  if (!is_digit(line[9]) || !is_digit(line[10]) || !is_digit(line[11])) return -1;
  if (line.size() > 12 && line[12] != ' ') return -1;
  return (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
}

// A status line (empty lines before it skipped) and its header fields up
// to the empty line.  A field line that begins with a blank continues the
// one before it.
Head read_head(Reader &reader, size_t &budget) {
  Head head;
  std::string status;
  while (status.empty()) status = reader.line(budget);
  head.status = parse_status_line(status);
  if (head.status < 0) throw Refused{};
  for (;;) {
    const std::string line = reader.line(budget);
    if (line.empty()) return head;
    if (is_blank(line.front())) {
      if (head.fields.empty()) throw Refused{};
      // Appended in place: the value is trimmed already, so one blank and
      // the trimmed line keep it so at a cost of the line alone.
      std::string &value = head.fields.back().second;
      const std::string_view more = trimmed(line);
      if (more.empty()) continue;
      if (!value.empty()) value += ' ';
      value += more;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;  // not a field: ignored
    head.fields.emplace_back(std::string(trimmed(std::string_view(line).substr(0, colon))),
                             std::string(trimmed(std::string_view(line).substr(colon + 1))));
  }
}

std::vector<std::string_view> values_of(const Head &head, std::string_view name) {
  std::vector<std::string_view> out;
  for (const auto &[field, value] : head.fields)
    if (same_ignoring_case(field, name)) out.push_back(value);
  return out;
}

// The Content-Length, when there is one: every such field must carry the
// same number.  One beyond 64 bits is no length.
std::optional<uint64_t> content_length(const Head &head) {
  std::optional<uint64_t> length;
  for (const std::string_view value : values_of(head, "Content-Length")) {
    if (value.empty()) throw Refused{};
    uint64_t n = 0;
    for (const char c : value) {
      if (!is_digit(c) || n > (UINT64_MAX - 9) / 10) throw Refused{};
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (length && *length != n) throw Refused{};
    length = n;
  }
  return length;
}

bool is_chunked(const Head &head) {
  for (const std::string_view value : values_of(head, "Transfer-Encoding"))
    if (contains_ignoring_case(value, "chunked")) return true;
  return false;
}

// "<hex digits>[blanks][;extension]"; a size beyond 64 bits is refused.
uint64_t parse_chunk_size(std::string_view line) {
  size_t i = 0;
  uint64_t size = 0;
  for (; i < line.size() && hex_value(line[i]) >= 0; ++i) {
    if (size > (UINT64_MAX >> 4)) throw Refused{};
    size = size * 16 + static_cast<uint64_t>(hex_value(line[i]));
  }
  if (i == 0) throw Refused{};
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i < line.size() && line[i] != ';') throw Refused{};
  return size;
}

// What the chunk framing may still take: its allowance grows with the body
// read, so that many small chunks pass and framing alone soon runs out.
static_assert(uint64_t{kChunkFramingPerByte} * kMaxBodyBytes + kChunkFramingBytes < SIZE_MAX,
              "the framing allowance fits a size_t");
class FramingBudget {
 public:
  explicit FramingBudget(const Body &body) : body_(body) {}
  std::string line(Reader &reader) {
    const size_t allowed = kChunkFramingBytes + kChunkFramingPerByte * body_.size();
    size_t left = allowed - used_;
    std::string out = reader.line(left);
    used_ = allowed - left;
    return out;
  }

 private:
  const Body &body_;
  size_t used_ = 0;
};

void read_chunked(Reader &reader, Body &body, size_t &header_budget) {
  FramingBudget framing(body);
  for (;;) {
    if (body.full()) return;  // the rest is not wanted
    const uint64_t size = parse_chunk_size(framing.line(reader));
    if (size == 0) break;
    body.admit(size);
    reader.exactly(static_cast<size_t>(std::min<uint64_t>(size, body.room())), body);
    if (body.full()) return;
    if (!framing.line(reader).empty()) throw Refused{};  // data must end with its line end
  }
  while (!reader.line(header_budget).empty()) {
  }
}

std::string read_body(Reader &reader, const Head &head, size_t &header_budget, size_t keep) {
  Body body(keep);
  if (head.status == 204) return body.take();
  if (is_chunked(head)) {
    read_chunked(reader, body, header_budget);
  } else if (const std::optional<uint64_t> length = content_length(head)) {
    body.admit(*length);
    body.reserve(*length);  // the peer's claim, not yet its bytes
    reader.exactly(static_cast<size_t>(std::min<uint64_t>(*length, body.room())), body);
  } else {
    reader.to_end(body);
  }
  return body.take();
}

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  size_t read(char *data, size_t size) override {
    const size_t n = std::min(size, bytes_.size());
    if (n > 0) std::memcpy(data, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
};

}  // namespace

std::optional<std::string> read_http_response(ByteSource &source, size_t keep) {
  try {
    Reader reader(source);
    size_t header_budget = kMaxHeaderBytes;
    for (;;) {
      const Head head = read_head(reader, header_budget);
      if (head.status >= 100 && head.status < 200) {
        // Interim answers carry no body.  101 would switch protocols,
        // which this request never asks for.
        if (head.status == 101) return std::nullopt;
        continue;
      }
      if (head.status < 200 || head.status > 299) return std::nullopt;
      // Redirects are not followed, whatever status carries them.
      if (!values_of(head, "Location").empty()) return std::nullopt;
      return read_body(reader, head, header_budget, keep);
    }
  } catch (const Refused &) {
    return std::nullopt;
  }
}

std::optional<std::string> parse_http_response(std::string_view bytes, size_t keep) {
  MemorySource source(bytes);
  return read_http_response(source, keep);
}

}  // namespace qv::services
