// A caller's output buffer on the heap at exactly the size the interface
// documents, filled with a marker byte, so that AddressSanitizer catches a
// byte written or read past its end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qvfuzz {

class HeapText {
 public:
  explicit HeapText(size_t size) : size_(size), bytes_(static_cast<char *>(std::malloc(size))) {
    std::memset(bytes_, 'Z', size);
  }
  ~HeapText() { std::free(bytes_); }
  HeapText(const HeapText &) = delete;
  HeapText &operator=(const HeapText &) = delete;

  char *get() { return bytes_; }
  // Whether a text written into the buffer ends inside it.
  bool terminated() const { return std::memchr(bytes_, 0, size_) != nullptr; }

 private:
  size_t size_;
  char *bytes_;
};

// The buffer a host gives an XML _Resp export: the reply length plus one
// byte, and at least the longest fixed message.  A length beyond the bytes
// that the peer sends can only end in a fixed message (the body cannot be
// read whole), so the fuzzer does not allocate what the header claims.
inline size_t reply_buffer_size(int32_t reply_length, size_t bytes_sent) {
  constexpr size_t kFixedMessageMax = 41;
  if (reply_length <= 0 || static_cast<size_t>(reply_length) > bytes_sent) return kFixedMessageMax;
  return std::max(static_cast<size_t>(reply_length) + 1, kFixedMessageMax);
}

}  // namespace qvfuzz
