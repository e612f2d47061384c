// The journal's own byte formats as a damaged or foreign file may hold
// them: a first byte 'C' hands the rest to the job content's reader, any
// other to the evidence's.  What a reader accepts must write back to the
// very same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "journal/content_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::string why;
  if (data[0] == 'C') {
    if (const auto content = qv::journal::decode_content(bytes, why))
      if (qv::journal::encode_content(*content) != bytes) std::abort();
  } else if (const auto evidence = qv::journal::decode_evidence(bytes, why)) {
    if (!bytes.empty() && qv::journal::encode_evidence(*evidence) != bytes) std::abort();
  }
  return 0;
}
