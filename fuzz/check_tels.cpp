// CheckTels with the fuzz bytes split into its two length-prefixed texts:
// the first byte is the number's length, the number follows, and the rest
// is the carrier list.  Each text lies in a buffer of exactly its length
// plus the prefix, so that a read past its end is caught.
#include <quorvex.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

class Prefixed {
 public:
  Prefixed(const uint8_t *text, size_t length)
      : storage_(std::malloc(length + 4)),
        text_(qv_length_prefixed(storage_, reinterpret_cast<const char *>(text),
                                 static_cast<int32_t>(length))) {}
  ~Prefixed() { std::free(storage_); }
  Prefixed(const Prefixed &) = delete;
  Prefixed &operator=(const Prefixed &) = delete;
  const char *text() const { return text_; }

 private:
  void *storage_;
  const char *text_;
};

bool all_digits(const uint8_t *p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t c) { return c >= '0' && c <= '9'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t number_length = std::min<size_t>(data[0], size - 1);
  const uint8_t *number = data + 1;
  const Prefixed n(number, number_length);
  const Prefixed list(number + number_length, size - 1 - number_length);
  const int32_t result = CheckTels(n.text(), list.text());

  // What the number's form alone decides.
  const bool digits = all_digits(number, number_length);
  const bool fixed_line = digits && number_length >= 8 && number_length <= 12 && number[0] == '0';
  const bool mobile_form = digits && number_length == 11 && number[0] != '0';
  if ((result == 3) != fixed_line) __builtin_trap();
  if ((result == 1 || result == 2) && !mobile_form) __builtin_trap();
  if (result < -1 || result > 3) __builtin_trap();
  return 0;
}
