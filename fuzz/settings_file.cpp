// The settings file as its reader sees it: the fuzz bytes are the file, and
// the values of the keys that the library reads (and a GBK key, whose
// second byte may look like an ASCII letter) are looked up in [DllSet].
#include <cstdint>
#include <string_view>

#include "platform/posix/private_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  for (const std::string_view key : {"dx", "wt", "\xb5\xe7\xd0\xc5", ""}) {
    const auto value = qv::platform::find_profile_value(text, "DllSet", key);
    // The value is a view into the file's own bytes.
    if (value && !value->empty() &&
        (value->data() < text.data() || value->data() + value->size() > text.data() + text.size()))
      __builtin_trap();
  }
  return 0;
}
