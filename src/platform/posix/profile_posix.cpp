// Private-profile files on POSIX systems: the file is read whole and handed
// to our reader.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/private_profile.h"
#include "platform/profile.h"

namespace qv::platform {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file that cannot be opened counts as missing, as it does for the Windows
// reader; only a system in trouble is an error.
bool counts_as_missing(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM ||
         error == EISDIR || error == ELOOP || error == ENAMETOOLONG || error == ENXIO ||
         error == ENODEV;
}

enum class Read { Done, Missing, Failed };

Read read_whole_file(const std::string &path, std::string &out) {
  // Non-blocking, so that a FIFO of that name cannot hold the open.
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return counts_as_missing(errno) ? Read::Missing : Read::Failed;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Read::Failed;
  if (!S_ISREG(info.st_mode)) return Read::Missing;

  char block[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), block, sizeof block);
    if (n > 0) {
      out.append(block, static_cast<size_t>(n));
    } else if (n == 0) {
      return Read::Done;
    } else if (errno != EINTR) {
      return Read::Failed;
    }
  }
}

}  // namespace

bool read_profile_string(const std::string &path, const char *section, const char *key, char *out,
                         size_t size) {
  if (out == nullptr || size == 0) return false;
  std::string text;
  std::string_view value;
  switch (read_whole_file(path, text)) {
    case Read::Failed: return false;
    case Read::Missing: break;
    case Read::Done:
      value = find_profile_value(text, section ? section : "", key ? key : "")
                  .value_or(std::string_view());
      break;
  }
  const size_t n = std::min(value.size(), size - 1);
  if (n > 0) std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return true;
}

}  // namespace qv::platform
