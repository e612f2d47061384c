#include "services/http_response.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace qv::services {
namespace {

// A response the reader refuses; caught at the top and turned into nothing.
struct Refused {};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lower(x) == lower(y);
         });
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
  void exactly(size_t n, std::string &out) {
    while (n > 0) {
      if (begin_ == end_ && !fill()) throw Refused{};
      const size_t take = std::min(n, end_ - begin_);
      out.append(buffer_ + begin_, take);
      begin_ += take;
      n -= take;
    }
  }

  // Everything up to the end of the stream, at most limit bytes in out.
  void to_end(std::string &out, size_t limit) {
    for (;;) {
      if (begin_ == end_ && !fill()) return;
      if (out.size() + (end_ - begin_) > limit) throw Refused{};
      out.append(buffer_ + begin_, end_ - begin_);
      begin_ = end_;
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
      std::string &value = head.fields.back().second;
      value = std::string(trimmed(value + ' ' + line));
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
// same run of digits.
std::optional<size_t> content_length(const Head &head) {
  std::optional<size_t> length;
  for (const std::string_view value : values_of(head, "Content-Length")) {
    if (value.empty()) throw Refused{};
    size_t n = 0;
    for (const char c : value) {
      if (!is_digit(c)) throw Refused{};
      n = n * 10 + static_cast<size_t>(c - '0');
      if (n > kMaxBodyBytes) throw Refused{};
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

// "<hex digits>[blanks][;extension]"; the size must keep the body within
// its bound.
size_t parse_chunk_size(std::string_view line, size_t body_so_far) {
  size_t i = 0, size = 0;
  for (; i < line.size() && hex_value(line[i]) >= 0; ++i) {
    size = size * 16 + static_cast<size_t>(hex_value(line[i]));
    if (size > kMaxBodyBytes - body_so_far) throw Refused{};
  }
  if (i == 0) throw Refused{};
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i < line.size() && line[i] != ';') throw Refused{};
  return size;
}

void read_chunked(Reader &reader, std::string &body, size_t &header_budget) {
  size_t framing_budget = kMaxBodyBytes;
  for (;;) {
    const size_t size = parse_chunk_size(reader.line(framing_budget), body.size());
    if (size == 0) break;
    reader.exactly(size, body);
    if (!reader.line(framing_budget).empty()) throw Refused{};  // data must end with its line end
  }
  while (!reader.line(header_budget).empty()) {
  }
}

std::string read_body(Reader &reader, const Head &head, size_t &header_budget) {
  std::string body;
  if (head.status == 204) return body;
  if (is_chunked(head)) {
    read_chunked(reader, body, header_budget);
  } else if (const std::optional<size_t> length = content_length(head)) {
    body.reserve(std::min(*length, size_t{1} << 20));  // the peer's claim, not yet its bytes
    reader.exactly(*length, body);
  } else {
    reader.to_end(body, kMaxBodyBytes);
  }
  return body;
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

std::optional<std::string> read_http_response(ByteSource &source) {
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
      return read_body(reader, head, header_budget);
    }
  } catch (const Refused &) {
    return std::nullopt;
  }
}

std::optional<std::string> parse_http_response(std::string_view bytes) {
  MemorySource source(bytes);
  return read_http_response(source);
}

}  // namespace qv::services
