#include "record_bytes.h"

#include <stdexcept>

namespace qvtest::rec {

namespace {

void place(Bytes &record, size_t at, size_t size, const Bytes &text) {
  if (text.size() > size) throw std::length_error("text longer than its field");
  record.replace(at, text.size(), text);
}

int32_t read_le32(const Bytes &record, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i)
    v |= uint32_t(static_cast<unsigned char>(record.at(at + i))) << (8 * i);
  return static_cast<int32_t>(v);
}

Bytes text_at(const Bytes &record, size_t at, size_t size) {
  Bytes field = record.substr(at, size);
  return field.substr(0, field.find('\0'));
}

}  // namespace

Bytes le32(int32_t value) {
  auto v = static_cast<uint32_t>(value);
  return {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
}

Bytes make(const Fields &f) {
  Bytes r(kSize, '\0');
  r.replace(kCodeAt, 4, le32(f.code));
  place(r, kBodyAt, kBodySize, f.body);
  r.replace(kBodyLenAt, 4, le32(f.body_len.value_or(static_cast<int32_t>(f.body.size()))));
  place(r, kParamAt[0], kParamSize, f.param1);
  place(r, kParamAt[1], kParamSize, f.param2);
  place(r, kParamAt[2], kParamSize, f.param3);
  return r;
}

Bytes make(int32_t code, const Bytes &body, const Bytes &param1, const Bytes &param2,
           const Bytes &param3) {
  return make(Fields{code, body, std::nullopt, param1, param2, param3});
}

Bytes login(const Bytes &app, const Bytes &extra, const Bytes &name, const Bytes &pwd,
            const Bytes &ver) {
  return make(100, app + ";" + extra, name, pwd, ver);
}

int32_t code(const Bytes &record) { return read_le32(record, kCodeAt); }
int32_t body_len(const Bytes &record) { return read_le32(record, kBodyLenAt); }
Bytes body(const Bytes &record) { return text_at(record, kBodyAt, kBodySize); }
Bytes param(const Bytes &record, int which) {
  return text_at(record, kParamAt[which - 1], kParamSize);
}

}  // namespace qvtest::rec
