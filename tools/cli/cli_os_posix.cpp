// The command-line host's system services on POSIX systems: iconv, the
// program's path from /proc, the descriptor limit.
#include <iconv.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "cli_os.h"

namespace qv::cli {

namespace {

class Converter {
 public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;

  bool convert(std::string_view &in, std::string &out) {
    char buffer[256];
    while (!in.empty()) {
      char *src = const_cast<char *>(in.data());
      size_t src_left = in.size();
      char *dst = buffer;
      size_t dst_left = sizeof buffer;
      const size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      const int error = errno;
      out.append(buffer, static_cast<size_t>(dst - buffer));
      in.remove_prefix(in.size() - src_left);
      if (rc == static_cast<size_t>(-1) && error != E2BIG) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

bool convert(Conversion conversion, std::string_view &in, std::string &out) {
  Converter converter =
      conversion == Conversion::GbkToUtf8 ? Converter("UTF-8", "GBK") : Converter("GBK", "UTF-8");
  return converter.convert(in, out);
}

std::vector<std::string> utf8_arguments(int argc, char **argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void show_utf8_on_console() {}

std::filesystem::path program_folder() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

void allow_many_sockets() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
}

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

std::tm utc_time(std::time_t seconds) {
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  return utc;
}

}  // namespace qv::cli
