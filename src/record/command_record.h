// The fixed-size record of the record protocol: every request and every
// response is exactly one CommandRecord.  Fields follow each other without
// gaps; the two int32 fields are little-endian on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qv::record {

enum class Field : uint8_t { Body, Param1, Param2, Param3 };

struct FieldLayout {
  size_t offset;
  size_t size;
};

inline constexpr size_t kCodeOffset = 0;
inline constexpr size_t kBodyOffset = 4;
inline constexpr size_t kBodySize = 2048;
inline constexpr size_t kBodyLenOffset = 2052;
inline constexpr size_t kParam1Offset = 2056;
inline constexpr size_t kParamSize = 20;
inline constexpr size_t kRecordSize = 2116;

constexpr FieldLayout layout(Field f) {
  switch (f) {
    case Field::Body: return {kBodyOffset, kBodySize};
    case Field::Param1: return {kParam1Offset, kParamSize};
    case Field::Param2: return {kParam1Offset + kParamSize, kParamSize};
    case Field::Param3: return {kParam1Offset + 2 * kParamSize, kParamSize};
  }
  return {0, 0};
}

// Most text bytes a field holds so that its terminating zero still fits.
constexpr size_t max_text(Field f) { return layout(f).size - 1; }

class CommandRecord {
 public:
  CommandRecord() { clear(); }

  void clear() { std::memset(bytes_, 0, sizeof bytes_); }

  int32_t code() const { return get_int32(kCodeOffset); }
  void set_code(int32_t v) { put_int32(kCodeOffset, v); }
  int32_t body_len() const { return get_int32(kBodyLenOffset); }
  void set_body_len(int32_t v) { put_int32(kBodyLenOffset, v); }

  // Copies text and its terminator into the field; the caller has checked
  // that it fits (text.size() <= max_text(f)).
  void put_text(Field f, std::string_view text);
  // The field's bytes up to its first zero, or the whole field if it has none.
  std::string_view text(Field f) const;

  unsigned char *data() { return bytes_; }
  const unsigned char *data() const { return bytes_; }
  static constexpr size_t size() { return kRecordSize; }

 private:
  int32_t get_int32(size_t at) const;
  void put_int32(size_t at, int32_t v);

  unsigned char bytes_[kRecordSize];
};

}  // namespace qv::record
