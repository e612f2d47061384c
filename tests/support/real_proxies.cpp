#include "real_proxies.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "missing.h"

extern char **environ;

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// Log names inside the proxy's directory.
constexpr const char *kLog = "proxy.log";      // tunnels are counted here
constexpr const char *kOutput = "output.log";  // everything else it prints
constexpr const char *kConfig = "proxy.conf";

// How long a proxy may take to start listening, and to stop.
constexpr Millis kStartLimit{10000};
constexpr int kStopLimitMs = 3000;
// Interval between two looks at something that gives no event to wait on
// (a port that is not listening yet, a log file that grows).
constexpr Millis kPollInterval{10};

const char *program_name(ProxyServer server) {
  switch (server) {
    case ProxyServer::Dante: return "danted";
    case ProxyServer::Microsocks: return "microsocks";
    case ProxyServer::Tinyproxy: return "tinyproxy";
  }
  return "";
}

const char *package_name(ProxyServer server) {
  switch (server) {
    case ProxyServer::Dante: return "dante-server";
    case ProxyServer::Microsocks: return "microsocks";
    case ProxyServer::Tinyproxy: return "tinyproxy";
  }
  return "";
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

// A loopback port that was free a moment ago.  The proxy binds it itself,
// so another process may take it first; the start is then retried.
uint16_t free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr = loopback(0);
  socklen_t len = sizeof addr;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

bool accepts_connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr = loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Waits for the child to end; false when it is still running at the limit.
bool wait_exit(pid_t pid, int limit_ms) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int r;
    do r = ::poll(&p, 1, limit_ms);
    while (r < 0 && errno == EINTR);
    ::close(pidfd);
    if (r <= 0) return false;
    return ::waitpid(pid, nullptr, 0) == pid;
  }
  // No pidfd (an old kernel): look now and then.
  const auto end = std::chrono::steady_clock::now() + Millis(limit_ms);
  do {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(kPollInterval);
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

}  // namespace

const char *proxy_server_name(ProxyServer server) {
  switch (server) {
    case ProxyServer::Dante: return "Dante";
    case ProxyServer::Microsocks: return "microsocks";
    case ProxyServer::Tinyproxy: return "tinyproxy";
  }
  return "";
}

const char *proxy_component(ProxyServer server) {
  return server == ProxyServer::Dante ? "dante" : program_name(server);
}

RealProxy::RealProxy(ProxyServer server) : server_(server) {
  const std::string program = find_program(program_name(server));
  if (program.empty()) {
    missing_ = std::string(program_name(server)) + " is not installed (Debian package " +
               package_name(server) + "; scripts/setup.sh installs it)";
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "quorvex-proxy-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    failure_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  dir_ = pattern;

  // A port taken between its choice and the proxy's bind makes the proxy
  // exit at once; another port is tried then.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = free_port();
    failure_.clear();
    if (port_ == 0) {
      failure_ = "no free loopback port";
      continue;
    }
    write_config();
    if (launch(program) && wait_listening(kStartLimit)) return;
    const std::string output = log();
    stop();
    failure_ += "\n" + output;
  }
}

RealProxy::~RealProxy() {
  stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

void RealProxy::write_config() const {
  const fs::path dir(dir_);
  for (const char *name : {kLog, kOutput}) std::ofstream(dir / name, std::ios::trunc);
  std::ofstream conf(dir / kConfig, std::ios::trunc);
  switch (server_) {
    case ProxyServer::Dante:
      conf << "logoutput: " << (dir / kLog).string() << "\n"
           << "internal: 127.0.0.1 port = " << port_ << "\n"
           << "external: 127.0.0.1\n"
           << "socksmethod: none\n"
           << "clientmethod: none\n";
      // As root, Dante wants to know whom to become for its work; as any
      // other user it stays that user.
      if (::geteuid() == 0) conf << "user.privileged: root\nuser.unprivileged: nobody\n";
      conf << "client pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  log: error\n}\n"
           << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n"
           << "  log: connect disconnect error\n}\n";
      break;
    case ProxyServer::Tinyproxy:
      // Without ConnectPort lines CONNECT is allowed to every port.
      conf << "Port " << port_ << "\n"
           << "Listen 127.0.0.1\n"
           << "Allow 127.0.0.1\n"
           << "Timeout 600\n"
           << "MaxClients 16\n"
           << "LogFile \"" << (dir / kLog).string() << "\"\n"
           << "LogLevel Connect\n";
      break;
    case ProxyServer::Microsocks:  // takes its settings on the command line
      break;
  }
}

bool RealProxy::launch(const std::string &program) {
  const fs::path dir(dir_);
  const std::string port = std::to_string(port_);
  const std::string conf = (dir / kConfig).string();
  std::vector<std::string> args;
  switch (server_) {
    case ProxyServer::Dante:
      args = {program, "-f", conf, "-N", "1", "-p", (dir / "danted.pid").string()};
      break;
    case ProxyServer::Microsocks: args = {program, "-i", "127.0.0.1", "-p", port}; break;
    case ProxyServer::Tinyproxy: args = {program, "-d", "-c", conf}; break;
  }
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // microsocks logs its tunnels to standard error.
  const bool log_on_stderr = server_ == ProxyServer::Microsocks;
  const std::string out = (dir / kOutput).string();
  const std::string err = (dir / (log_on_stderr ? kLog : kOutput)).string();
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_APPEND, 0);
  posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_APPEND, 0);

  // A process group of its own, so that stopping it reaches the processes
  // it forks; default signal handling whatever the test process changed.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const int rc = ::posix_spawn(&pid_, argv[0], &files, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid_ = -1;
    failure_ = "cannot run " + args[0] + ": " + std::strerror(rc);
    return false;
  }
  return true;
}

bool RealProxy::wait_listening(Millis limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (accepts_connect(port_)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      failure_ = std::string(proxy_server_name(server_)) + " exited before listening on port " +
                 std::to_string(port_) + " (status " + std::to_string(status) + ")";
      return false;
    }
    if (std::chrono::steady_clock::now() >= end) {
      failure_ = std::string(proxy_server_name(server_)) + " did not listen on port " +
                 std::to_string(port_);
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

void RealProxy::stop() {
  if (pid_ <= 0) return;
  // The group is the child's own while the child is not reaped yet.
  ::kill(-pid_, SIGTERM);
  if (!wait_exit(pid_, kStopLimitMs)) {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

bool RealProxy::is_tunnel_line(const std::string &line, uint16_t target_port) const {
  const std::string target = std::to_string(target_port);
  switch (server_) {
    case ProxyServer::Dante:
      // "pass(1): tcp/connect [: <client> <proxy> -> <proxy side> 127.0.0.1.<port>"
      return line.find("tcp/connect [") != std::string::npos &&
             ends_with(line, " 127.0.0.1." + target);
    case ProxyServer::Microsocks:
      // "client[5] 127.0.0.1: connected to 127.0.0.1:<port>"
      return ends_with(line, "connected to 127.0.0.1:" + target);
    case ProxyServer::Tinyproxy:
      // "Request (file descriptor 5): CONNECT 127.0.0.1:<port> HTTP/1.1"
      return line.find("Request (file descriptor") != std::string::npos &&
             line.find(": CONNECT 127.0.0.1:" + target + " HTTP/") != std::string::npos;
  }
  return false;
}

size_t RealProxy::tunnels_to(uint16_t target_port) const {
  if (dir_.empty()) return 0;
  std::istringstream in(read_file(fs::path(dir_) / kLog));
  size_t n = 0;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (is_tunnel_line(line, target_port)) ++n;
  }
  return n;
}

bool RealProxy::wait_tunnels_to(uint16_t target_port, size_t n, Millis limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (tunnels_to(target_port) < n) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::string RealProxy::log() const {
  if (dir_.empty()) return {};
  const fs::path dir(dir_);
  return std::string(proxy_server_name(server_)) + " log:\n" + read_file(dir / kLog) + "\n" +
         proxy_server_name(server_) + " output:\n" + read_file(dir / kOutput);
}

}  // namespace qvtest
