// The answer to the web request's GET, read from memory in one piece and
// again from a source that hands it over a few bytes at a time: both reads
// must give the same result, whatever the bytes, and a read that keeps
// fewer bytes of the body must give its start.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "services/http_response.h"

namespace {

class Trickle : public qv::services::ByteSource {
 public:
  Trickle(std::string_view bytes, size_t step) : bytes_(bytes), step_(step) {}
  size_t read(char *data, size_t size) override {
    const size_t n = std::min({size, step_, bytes_.size()});
    if (n > 0) std::memcpy(data, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
  size_t step_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const auto whole = qv::services::parse_http_response(bytes);
  // The size picks the piece length, so that the input stays a plain response.
  Trickle trickle(bytes, 1 + size % 13);
  const auto pieces = qv::services::read_http_response(trickle);
  if (whole != pieces) __builtin_trap();
  if (whole && whole->size() > size) __builtin_trap();
  // A reader that keeps fewer bytes gives the start of the same body.
  const size_t keep = size % 64;
  const auto kept = qv::services::parse_http_response(bytes, keep);
  if (whole && (!kept || *kept != whole->substr(0, keep))) __builtin_trap();
  return 0;
}
