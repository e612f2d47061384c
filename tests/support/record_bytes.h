// Records of the record protocol built and read byte by byte, from the
// layout alone: these helpers share nothing with the library's own code, so
// a wrong offset or byte order in the library shows up as a mismatch.
//
//   offset    size  field
//   0         4     Code     int32, little-endian
//   4         2048  Body     text, zero-terminated unless it fills the field
//   2052      4     BodyLen  int32, little-endian
//   2056      20    Param1   text
//   2076      20    Param2   text
//   2096      20    Param3   text
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qvtest::rec {

using Bytes = std::string;

inline constexpr size_t kSize = 2116;
inline constexpr size_t kCodeAt = 0;
inline constexpr size_t kBodyAt = 4;
inline constexpr size_t kBodySize = 2048;
inline constexpr size_t kBodyLenAt = 2052;
inline constexpr size_t kParamAt[3] = {2056, 2076, 2096};
inline constexpr size_t kParamSize = 20;

struct Fields {
  int32_t code = 0;
  Bytes body;
  std::optional<int32_t> body_len;  // unset: the body's length
  Bytes param1, param2, param3;
};

// A whole record; texts may fill their field without a terminator.
Bytes make(const Fields &fields);
// A record with BodyLen set to the body's length.
Bytes make(int32_t code, const Bytes &body = {}, const Bytes &param1 = {}, const Bytes &param2 = {},
           const Bytes &param3 = {});
// The login record: Body "app;extra", Params name, pwd and ver.
Bytes login(const Bytes &app, const Bytes &extra, const Bytes &name, const Bytes &pwd,
            const Bytes &ver);

// Little-endian int32, as it stands in a record.
Bytes le32(int32_t value);

int32_t code(const Bytes &record);
int32_t body_len(const Bytes &record);
// A field's text: its bytes up to the first zero.
Bytes body(const Bytes &record);
Bytes param(const Bytes &record, int which);  // which: 1, 2 or 3

}  // namespace qvtest::rec
