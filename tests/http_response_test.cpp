// The web request's response reader, below the exports: the framing of a
// chunked body is bounded apart from the body.  The bodies here are as
// large as the limit, so they are generated as they are read rather than
// sent through a socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "services/http_response.h"

namespace {

using qv::services::kChunkFramingBytes;
using qv::services::kMaxBodyBytes;

// A response head, then `repeat` times the chunk (forever when repeat is
// 0), then the last chunk; it counts the bytes it hands out.
class ChunkSource : public qv::services::ByteSource {
 public:
  ChunkSource(std::string chunk, uint64_t repeat)
      : head_("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"),
        chunk_(std::move(chunk)),
        repeat_(repeat) {}

  size_t read(char *data, size_t size) override {
    size_t n = 0;
    while (n < size) {
      if (at_ == part().size()) {
        if (!next_part()) break;
        continue;
      }
      const size_t take = std::min(size - n, part().size() - at_);
      std::memcpy(data + n, part().data() + at_, take);
      at_ += take;
      n += take;
    }
    given += n;
    return n;
  }

  uint64_t given = 0;

 private:
  const std::string &part() const { return stage_ == 0 ? head_ : stage_ == 1 ? chunk_ : tail_; }
  bool next_part() {
    at_ = 0;
    if (stage_ == 0) {
      stage_ = 1;
      return true;
    }
    if (stage_ == 1 && (repeat_ == 0 || ++sent_ < repeat_)) return true;
    if (stage_ == 1) return ++stage_, true;
    return false;
  }

  std::string head_, chunk_, tail_ = "0\r\n\r\n";
  uint64_t repeat_, sent_ = 0;
  int stage_ = 0;
  size_t at_ = 0;
};

// Each row: one chunk repeated.  A body up to the limit passes in chunks
// however small, with the framing it needs; framing that brings little or
// no body is cut off after a bounded read, not at the end of the stream.
TEST(ChunkFraming, IsBoundedApartFromTheBody) {
  const std::string zeros(1000, '0');
  const struct {
    const char *name;
    std::string chunk;
    uint64_t repeat;      // 0: the stream never ends
    bool passes;          // the body is read whole
    uint64_t most_bytes;  // the reader stops within this many bytes
  } rows[] = {
      {"the limit in four-byte chunks", "4\r\nxxxx\r\n", kMaxBodyBytes / 4, true, UINT64_MAX},
      {"one-byte chunks with an extension", "1;a\r\nx\r\n", 1 << 20, true, UINT64_MAX},
      {"endless one-byte chunks, each a byte over", "1;a=b\r\nx\r\n", 0, false, 1 << 20},
      {"four bytes over the limit", "4\r\nxxxx\r\n", kMaxBodyBytes / 4 + 1, false, UINT64_MAX},
      {"endless chunks with long extensions", "1;" + std::string(100, 'e') + "\r\nx\r\n", 0, false,
       2 * kChunkFramingBytes + 20000},
      {"endless leading zeros", zeros + "1\r\nx\r\n", 0, false, 2 * kChunkFramingBytes + 20000},
      {"a size line that never ends", zeros, 0, false, 2 * kChunkFramingBytes + 20000},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    ChunkSource source(row.chunk, row.repeat);
    const auto body = qv::services::read_http_response(source);
    EXPECT_EQ(row.passes, body.has_value());
    if (body) {
      EXPECT_EQ(row.repeat * (row.chunk.size() - row.chunk.find('\n') - 3), body->size());
    }
    EXPECT_LE(source.given, row.most_bytes);
  }
}

}  // namespace
