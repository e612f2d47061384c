#include "record/command_record.h"

namespace qv::record {

void CommandRecord::put_text(Field f, std::string_view text) {
  const FieldLayout l = layout(f);
  const size_t n = text.size() < l.size ? text.size() : l.size - 1;
  if (n) std::memcpy(bytes_ + l.offset, text.data(), n);
  bytes_[l.offset + n] = 0;
}

std::string_view CommandRecord::text(Field f) const {
  const FieldLayout l = layout(f);
  const auto *begin = reinterpret_cast<const char *>(bytes_ + l.offset);
  const void *zero = std::memchr(begin, 0, l.size);
  const size_t n = zero ? static_cast<size_t>(static_cast<const char *>(zero) - begin) : l.size;
  return {begin, n};
}

int32_t CommandRecord::get_int32(size_t at) const {
  const uint32_t v = uint32_t(bytes_[at]) | uint32_t(bytes_[at + 1]) << 8 |
                     uint32_t(bytes_[at + 2]) << 16 | uint32_t(bytes_[at + 3]) << 24;
  return static_cast<int32_t>(v);
}

void CommandRecord::put_int32(size_t at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  bytes_[at] = static_cast<unsigned char>(u);
  bytes_[at + 1] = static_cast<unsigned char>(u >> 8);
  bytes_[at + 2] = static_cast<unsigned char>(u >> 16);
  bytes_[at + 3] = static_cast<unsigned char>(u >> 24);
}

}  // namespace qv::record
