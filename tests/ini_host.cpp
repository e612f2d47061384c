// A stand-in host for the settings-file tests: it reads one value the way a
// host does, from the settings file beside this executable, and prints
//   <result> <value in hex> <"clean" or "overrun">
// where "overrun" means that bytes after the value's zero were written; a
// buffer without any zero prints "<result> - untouched".
//
//   quorvex_ini_host <carrier in hex, "-" for a null carrier> [fx]
#include <quorvex.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string from_hex(const char *hex) {
  std::string out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    unsigned byte = 0;
    std::sscanf(hex + i, "%2x", &byte);
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const bool null_carrier = std::strcmp(argv[1], "-") == 0;
  const std::string carrier = null_carrier ? std::string() : from_hex(argv[1]);
  const bool twin = argc > 2 && std::strcmp(argv[2], "fx") == 0;

  constexpr char kFill = 'Z';
  std::vector<char> value(2 * QV_SETTING_BUFFER_SIZE, kFill);
  const char *arg = null_carrier ? nullptr : carrier.c_str();
  const qv_bool result = twin ? fxReadIniFile(value.data(), arg) : ReadIniFile(value.data(), arg);

  std::printf("%d ", result);
  const size_t length = strnlen(value.data(), value.size());
  if (length == value.size()) {
    std::printf("- untouched\n");
    return 0;
  }
  for (size_t i = 0; i < length; ++i) std::printf("%02x", static_cast<unsigned char>(value[i]));
  bool clean = true;
  for (size_t i = length + 1; i < value.size(); ++i) clean = clean && value[i] == kFill;
  std::printf(" %s\n", clean ? "clean" : "overrun");
  return 0;
}
