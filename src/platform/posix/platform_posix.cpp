// POSIX implementation of the platform layer.
#include "platform/platform.h"
#include "platform/connect_wait.h"
#include "platform/owner_file.h"
#include "platform/thread_end.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace qv::platform {
namespace {

// POSIX errno values as the Windows Sockets numbers that hosts know.
int to_socket_error(int e) {
  switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET:
    case EPIPE: return 10054;  // EPIPE: sending on a connection the peer has reset
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case ENFILE: return 10024;
    case ENOMEM: return 10055;
    default: return 10000 + e;  // outside the table: a number without a text
  }
}

int last_error() { return to_socket_error(errno); }

// Waits for events on fd; timeout_ms <= 0 waits without limit.  Returns the
// revents, 0 on time-out, -1 with errno set on error.
int wait_for(int fd, short events, int timeout_ms) {
  const int64_t deadline = timeout_ms > 0 ? monotonic_ms() + timeout_ms : 0;
  for (;;) {
    int wait = -1;
    if (timeout_ms > 0) {
      const int64_t left = deadline - monotonic_ms();
      if (left <= 0) return 0;
      wait = static_cast<int>(left);
    }
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, wait);
    if (rc > 0) return p.revents;
    if (rc == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

int socket_error_of(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return last_error();
  return err ? to_socket_error(err) : 0;
}

// Clears O_NONBLOCK on a socket of ours, whose other status flags are all
// clear: one call, no F_GETFL first.
bool set_blocking(int fd) { return ::fcntl(fd, F_SETFL, 0) == 0; }

}  // namespace

int Socket::connect(const Endpoint &to, int timeout_ms, const CancelCount *cancel) {
  close();
  const auto *sa = reinterpret_cast<const sockaddr *>(to.storage);
  // Non-blocking from the start, so that the connect can be waited for
  // under its deadline; blocking again once it is made.
  const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return last_error();
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);

  int error = 0;
  if (::connect(fd, sa, static_cast<socklen_t>(to.length)) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      error = last_error();
    } else {
      int revents = 0;
      error = wait_for_connect(
          timeout_ms, cancel,
          [fd, &revents](int ms) { return revents = wait_for(fd, POLLOUT, ms); },
          // Writable with no error or hang-up: connected, nothing to ask.
          [fd, &revents] { return revents == POLLOUT ? 0 : socket_error_of(fd); },
          [] { return last_error(); });
    }
  }
  if (error == 0 && !set_blocking(fd)) error = last_error();
  if (error != 0) {
    ::close(fd);
    return error;
  }
  handle_ = fd;
  receive_timeout_ms_ = send_timeout_ms_ = 0;
  return 0;
}

bool Socket::arm(bool receive, int64_t left_ms, int &error) {
  int &current = receive ? receive_timeout_ms_ : send_timeout_ms_;
  if (timeout_fits(current, left_ms)) return true;
  const int ms = left_ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(left_ms);
  const timeval tv{ms / 1000, (ms % 1000) * 1000};
  if (::setsockopt(static_cast<int>(handle_), SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO, &tv,
                   sizeof tv) != 0) {
    error = last_error();
    return false;
  }
  current = ms;
  return true;
}

int Socket::send_all(const void *data, size_t size, Deadline deadline) {
  if (!is_open()) return 10057;
  const auto *p = static_cast<const char *>(data);
  while (size > 0) {
    int error = 0;
    if (deadline.passed()) return kWaitTimedOut;
    if (!arm(false, deadline.socket_wait_ms(), error)) return error;
    const ssize_t n = ::send(static_cast<int>(handle_), p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWaitTimedOut : last_error();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

long Socket::receive(void *data, size_t size, Deadline deadline, int &error) {
  error = 0;
  if (!is_open()) {
    error = 10057;
    return -1;
  }
  if (deadline.passed()) {
    error = kWaitTimedOut;
    return -1;
  }
  // The time-out lives on the socket, so that a read is one system call.
  if (!arm(true, deadline.socket_wait_ms(), error)) return -1;
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(handle_), data, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    error = (errno == EAGAIN || errno == EWOULDBLOCK) ? kWaitTimedOut : last_error();
    return -1;
  }
}

bool Socket::readable_now() const {
  if (!is_open()) return false;
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&p, 1, 0) != 0;
}

// Not const: it ends the connection for every user of the socket.
void Socket::shutdown_both() {  // NOLINT(readability-make-member-function-const)
  if (is_open()) ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

void Socket::close() {
  if (is_open()) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
    receive_timeout_ms_ = send_timeout_ms_ = 0;
  }
}

void network_startup() {}

int64_t monotonic_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t clock_seed() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000000000u +
                               static_cast<uint64_t>(ts.tv_nsec));
}

void com_initialize() {}
void com_uninitialize() {}

std::FILE *open_owner_append(const char *path, std::string &why) {
  // O_NONBLOCK keeps a FIFO without a reader from holding the open; it is
  // cleared once the file is known to be a regular one.
  const int fd = ::open(
      path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int e = errno;
    if (e == ELOOP)
      why = "The trace file's path is a symbolic link.";
    else if (e == ENXIO || e == EISDIR)  // a FIFO without a reader, a directory
      why = "The trace file's path is not a regular file.";
    else
      why = std::string("The trace file cannot be opened for writing: ") + std::strerror(e) + ".";
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = "The trace file's path is not a regular file.";
    return nullptr;
  }
  // A file made here is 0600 whatever the umask, so group or other bits
  // mean it was there before.  Changing its mode would not stop a reader
  // that has it open already: refuse it, and let its owner decide.
  if ((st.st_mode & 077) != 0) {
    ::close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    why = std::string("The trace file exists and others may read or write it (mode ") + mode +
          "): make it its owner's alone (chmod 600) or remove it.";
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE *file =
      flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? ::fdopen(fd, "a") : nullptr;
  if (!file) {
    ::close(fd);
    why = "The trace file cannot be opened for writing.";
  }
  return file;
}

}  // namespace qv::platform

namespace qv::platform {

ThreadEndSlot::ThreadEndSlot(OnEnd on_end) {
  pthread_key_t key;
  usable_ = ::pthread_key_create(&key, on_end) == 0;
  index_ = usable_ ? key : 0;
}

ThreadEndSlot::~ThreadEndSlot() {
  if (usable_) ::pthread_key_delete(static_cast<pthread_key_t>(index_));
}

void *ThreadEndSlot::get() const {
  return usable_ ? ::pthread_getspecific(static_cast<pthread_key_t>(index_)) : nullptr;
}

bool ThreadEndSlot::set(void *value) const {
  return usable_ && ::pthread_setspecific(static_cast<pthread_key_t>(index_), value) == 0;
}

}  // namespace qv::platform
