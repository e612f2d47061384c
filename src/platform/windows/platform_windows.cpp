// Windows implementation of the platform layer: Winsock 2, the tick
// counters and COM.  Winsock's own error numbers are the library's socket
// error numbers.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/connect_wait.h"
#include "platform/owner_file.h"
#include "platform/thread_end.h"

namespace qv::platform {
namespace {

SOCKET as_socket(intptr_t h) { return static_cast<SOCKET>(h); }

int last_error() { return WSAGetLastError(); }

int socket_error_of(SOCKET s) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
    return last_error();
  return err;
}

bool set_nonblocking(SOCKET s, bool on) {
  u_long mode = on ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &mode) == 0;
}

// Waits until a non-blocking connect ends; 0 on time-out, -1 on error.
int wait_connected(SOCKET s, int timeout_ms) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return ::select(0, nullptr, &writable, &failed, timeout_ms > 0 ? &tv : nullptr);
}

}  // namespace

void network_startup() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

int Socket::connect(const Endpoint &to, int timeout_ms, const CancelCount *cancel) {
  close();
  network_startup();
  const auto *sa = reinterpret_cast<const sockaddr *>(to.storage);
  const SOCKET s = ::socket(sa->sa_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return last_error();
  const BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&one), sizeof one);

  int error = 0;
  if (!set_nonblocking(s, true)) {
    error = last_error();
  } else if (::connect(s, sa, to.length) != 0) {
    if (last_error() != WSAEWOULDBLOCK) {
      error = last_error();
    } else {
      error = wait_for_connect(
          timeout_ms, cancel, [s](int ms) { return wait_connected(s, ms); },
          [s] { return socket_error_of(s); }, [] { return last_error(); });
    }
  }
  if (error == 0 && !set_nonblocking(s, false)) error = last_error();
  if (error != 0) {
    ::closesocket(s);
    return error;
  }
  handle_ = static_cast<intptr_t>(s);
  receive_timeout_ms_ = send_timeout_ms_ = 0;
  return 0;
}

bool Socket::arm(bool receive, int64_t left_ms, int &error) {
  int &current = receive ? receive_timeout_ms_ : send_timeout_ms_;
  if (timeout_fits(current, left_ms)) return true;
  const DWORD ms = left_ms > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(left_ms);
  if (::setsockopt(as_socket(handle_), SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO,
                   reinterpret_cast<const char *>(&ms), sizeof ms) != 0) {
    error = last_error();
    return false;
  }
  current = static_cast<int>(ms);
  return true;
}

int Socket::send_all(const void *data, size_t size, Deadline deadline) {
  if (!is_open()) return WSAENOTCONN;
  const auto *p = static_cast<const char *>(data);
  while (size > 0) {
    int error = 0;
    if (deadline.passed()) return kWaitTimedOut;
    if (!arm(false, deadline.socket_wait_ms(), error)) return error;
    const int chunk = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
    const int n = ::send(as_socket(handle_), p, chunk, 0);
    if (n == SOCKET_ERROR) {
      const int e = last_error();
      return (e == WSAETIMEDOUT && !deadline.none()) ? kWaitTimedOut : e;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

long Socket::receive(void *data, size_t size, Deadline deadline, int &error) {
  error = 0;
  if (!is_open()) {
    error = WSAENOTCONN;
    return -1;
  }
  if (deadline.passed()) {
    error = kWaitTimedOut;
    return -1;
  }
  // The time-out lives on the socket, so that a read is one system call.
  if (!arm(true, deadline.socket_wait_ms(), error)) return -1;
  const int chunk = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
  const int n = ::recv(as_socket(handle_), static_cast<char *>(data), chunk, 0);
  if (n != SOCKET_ERROR) return n;
  const int e = last_error();
  error = (e == WSAETIMEDOUT && !deadline.none()) ? kWaitTimedOut : e;
  return -1;
}

bool Socket::readable_now() const {
  if (!is_open()) return false;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(as_socket(handle_), &readable);
  timeval zero{0, 0};
  return ::select(0, &readable, nullptr, nullptr, &zero) != 0;
}

void Socket::shutdown_both() {
  if (!is_open()) return;
  const SOCKET s = as_socket(handle_);
  ::shutdown(s, SD_BOTH);
  // A shutdown does not end a recv that another thread is blocked in, as it
  // does on POSIX systems; cancelling the socket's outstanding I/O does.
  ::CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}

void Socket::close() {
  if (is_open()) {
    ::closesocket(as_socket(handle_));
    handle_ = kInvalid;
    receive_timeout_ms_ = send_timeout_ms_ = 0;
  }
}

int64_t monotonic_ms() { return static_cast<int64_t>(::GetTickCount64()); }

uint32_t clock_seed() {
  LARGE_INTEGER counter;
  if (::QueryPerformanceCounter(&counter)) return static_cast<uint32_t>(counter.QuadPart);
  return ::GetTickCount();
}

namespace {
// Whether this thread holds a COM reference that the library took: only a
// CoInitializeEx that succeeded (S_OK or S_FALSE) is the library's to
// balance.  A thread already in the multi-threaded apartment answers
// RPC_E_CHANGED_MODE, and its COM stays the host's.  One reference at most,
// as a second initialisation of the library creates nothing new.
thread_local bool com_owned = false;
}  // namespace

void com_initialize() {
  if (!com_owned) com_owned = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void com_uninitialize() {
  if (!com_owned) return;
  com_owned = false;
  ::CoUninitialize();
}

namespace {

// A security descriptor whose DACL admits the calling user alone, for a
// file the library creates; null when the user cannot be told.
PSECURITY_DESCRIPTOR owner_only_descriptor() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool known = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != 0;
  ::CloseHandle(token);
  if (!known) return nullptr;
  char *sid = nullptr;
  if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &sid))
    return nullptr;
  // Protected (no inherited entries), full access for that user only.
  const std::string sddl = std::string("D:P(A;;FA;;;") + sid + ")";
  ::LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

}  // namespace

std::FILE *open_owner_append(const char *path, std::string &why) {
  PSECURITY_DESCRIPTOR descriptor = owner_only_descriptor();
  if (!descriptor) {
    why = "The trace file cannot be made private to its owner.";
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // A reparse point (a symbolic link, a junction) is opened itself, to be
  // refused, rather than followed.
  const HANDLE handle =
      ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ::LocalFree(descriptor);
  if (handle == INVALID_HANDLE_VALUE) {
    why = "The trace file cannot be opened for writing (Windows error " +
          std::to_string(::GetLastError()) + ").";
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    why = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
              ? "The trace file's path is a symbolic link."
              : "The trace file's path is not a regular file.";
    ::CloseHandle(handle);
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_WRONLY);
  if (fd < 0) {
    ::CloseHandle(handle);
    why = "The trace file cannot be opened for writing.";
    return nullptr;
  }
  std::FILE *file = ::_fdopen(fd, "a");
  if (!file) {
    ::_close(fd);
    why = "The trace file cannot be opened for writing.";
  }
  return file;
}

}  // namespace qv::platform

namespace qv::platform {
namespace {

// The one slot's function: a fiber-local slot's callback has the system's
// calling convention and is handed only the value.
ThreadEndSlot::OnEnd g_on_end = nullptr;

VOID NTAPI on_fiber_end(PVOID value) {
  if (value && g_on_end) g_on_end(value);
}

}  // namespace

// A fiber-local slot: its callback runs on every thread that ends with a
// value in it, and, for the threads still running, when the slot is freed
// as the library unloads, so that nothing is left to call into a library
// that has gone.
ThreadEndSlot::ThreadEndSlot(OnEnd on_end) {
  g_on_end = on_end;
  const DWORD index = ::FlsAlloc(&on_fiber_end);
  usable_ = index != FLS_OUT_OF_INDEXES;
  index_ = usable_ ? index : 0;
}

ThreadEndSlot::~ThreadEndSlot() {
  if (usable_) ::FlsFree(index_);
}

void *ThreadEndSlot::get() const { return usable_ ? ::FlsGetValue(index_) : nullptr; }

bool ThreadEndSlot::set(void *value) const { return usable_ && ::FlsSetValue(index_, value) != 0; }

}  // namespace qv::platform
