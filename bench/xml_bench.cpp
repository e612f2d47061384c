// quorvex_xml_bench: the XML protocol's exchanges (the login pair and a
// reference query pair) against an in-process loopback responder, next to a
// raw-socket floor that writes and reads the same bytes in the same run.
// Driven through the public header only, as a host drives it.
//
// Each iteration runs the library and the floor back to back, alternating
// which goes first, and keeps every exchange's latency; the reported figure
// is the median, the ratio library/floor.  A third row shows what the
// one-buffer request saves: the same login written as header, then body.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "loopback.h"
#include "median.h"
#include "median_collector.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::string;

constexpr int32_t kLoginCode = 10000;
constexpr int32_t kNumRuleCode = 10106;
constexpr std::size_t kHeaderSize = 16;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSplitWriteLogins = 12;

constexpr char kApp[] = "bench-host";
constexpr char kName[] = "demo";
constexpr char kPwd[] = "demo123";
constexpr char kVer[] = "1.0";

// A login reply as a server sends it: GBK, declared gb2312 ("登录成功").
const Bytes kLoginReply =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?><login><agent>1024</agent><agreement>1</agreement>"
    "<pud>PUD-0001</pud><desc>\xB5\xC7\xC2\xBC\xB3\xC9\xB9\xA6</desc></login>";
const Bytes kNumRuleReply =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?><reply><rule>^1(3[0-9]|4[5-9]|5[0-35-9]|6[2567]|7[0-8]|8[0-9]|9[0-35-9])"
    "\\d{8}$;^0\\d{2,3}-?\\d{7,8}$</rule></reply>";

// FxHeader, written independently of the library: four little-endian int32s.
void put_int32(char *at, int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
}

int32_t get_int32(const char *at) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= uint32_t(static_cast<unsigned char>(at[i])) << (8 * i);
  return static_cast<int32_t>(bits);
}

Bytes message(int32_t code, std::string_view body) {
  Bytes m(kHeaderSize, '\0');
  put_int32(m.data(), code);
  put_int32(m.data() + 4, 1);
  put_int32(m.data() + 8, 1);
  put_int32(m.data() + 12, static_cast<int32_t>(body.size()));
  return m.append(body);
}

// The login request with a ten-digit key, the usual length of a key.
Bytes login_request() {
  const Bytes body = "<?xml version=\"1.0\" encoding=\"gb2312\"?><login><app>" + Bytes(kApp) +
                     "</app><ver>" + kVer + "</ver><key>1234567890</key><name>" + kName +
                     "</name><pwd>" + kPwd + "</pwd></login>";
  return message(kLoginCode, body);
}

// Answers every XML request with one reply: the login reply to a login, the
// number rules to the number-rule query, a refusal to anything else.  One
// thread serves every connection, so the library and the floor talk to the
// same peer thread.
class FxResponder {
 public:
  FxResponder() {
    int ends[2];
    if (::pipe(ends) != 0) throw std::runtime_error("pipe");
    wake_read_ = qvbench::Socket(ends[0]);
    wake_write_ = qvbench::Socket(ends[1]);
    login_reply_ = message(20900, kLoginReply);
    rule_reply_ = message(20900, kNumRuleReply);
    refusal_ = message(20901, "unknown request");
    thread_ = std::thread([this] { serve(); });
  }
  ~FxResponder() {
    const char stop = 0;
    (void)!::write(wake_write_.fd(), &stop, 1);
    thread_.join();
  }
  FxResponder(const FxResponder &) = delete;
  FxResponder &operator=(const FxResponder &) = delete;

  uint16_t port() const { return listener_.port(); }

 private:
  void serve() {
    std::vector<pollfd> watched;
    for (;;) {
      watched.assign({{wake_read_.fd(), POLLIN, 0}, {listener_.fd(), POLLIN, 0}});
      for (const qvbench::Socket &c : connections_) watched.push_back({c.fd(), POLLIN, 0});
      if (::poll(watched.data(), watched.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (watched[0].revents) return;
      if (watched[1].revents) {
        qvbench::Socket c(::accept(listener_.fd(), nullptr, nullptr));
        if (c.valid()) connections_.push_back(std::move(c));
      }
      for (std::size_t i = watched.size(); i-- > 2;)
        if (watched[i].revents && !answer(connections_[i - 2]))
          connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i - 2));
    }
  }

  bool answer(const qvbench::Socket &c) {
    char header[kHeaderSize];
    if (!qvbench::read_all(c.fd(), header, sizeof header)) return false;
    const int32_t length = get_int32(header + 12);
    if (length < 0 || length > (1 << 20)) return false;
    body_.resize(static_cast<std::size_t>(length));
    if (length > 0 && !qvbench::read_all(c.fd(), body_.data(), body_.size())) return false;
    const int32_t code = get_int32(header);
    const Bytes &reply = code == kLoginCode     ? login_reply_
                         : code == kNumRuleCode ? rule_reply_
                                                : refusal_;
    return qvbench::write_all(c.fd(), reply.data(), reply.size());
  }

  qvbench::LoopbackListener listener_{16};
  qvbench::Socket wake_read_, wake_write_;
  Bytes login_reply_, rule_reply_, refusal_, body_;
  std::vector<qvbench::Socket> connections_;
  std::thread thread_;
};

// The floor: one connection; a request written in one go (or as header then
// body), the reply header and body read, nothing else.
class RawFxClient {
 public:
  explicit RawFxClient(uint16_t port) : socket_(qvbench::raw_connect(port)) {}
  bool connected() const { return socket_.valid(); }

  bool exchange(const Bytes &request, bool split = false) {
    const int fd = socket_.fd();
    const bool written = split ? qvbench::write_all(fd, request.data(), kHeaderSize) &&
                                     qvbench::write_all(fd, request.data() + kHeaderSize,
                                                        request.size() - kHeaderSize)
                               : qvbench::write_all(fd, request.data(), request.size());
    char header[kHeaderSize];
    if (!written || !qvbench::read_all(fd, header, sizeof header)) return false;
    const int32_t length = get_int32(header + 12);
    if (get_int32(header) != 20900 || length <= 0) return false;
    body_.resize(static_cast<std::size_t>(length));
    return qvbench::read_all(fd, body_.data(), body_.size());
  }

 private:
  qvbench::Socket socket_;
  Bytes body_;
};

// The library's connection to the responder, connected once.
bool library_connect(uint16_t port) {
  char text[QV_BODY_BUFFER_SIZE] = {};
  if (fxTcpConnect(text, "127.0.0.1", port, kConnectTimeoutMs, "", "", 0, "", "")) return true;
  std::fprintf(stderr, "fxTcpConnect failed: %s\n", text);
  return false;
}

bool library_login() {
  int32_t code = -1, length = 0, agent = 0, agreement = 0;
  if (!fxLogin_Req(&code, &length, kApp, "", kName, kPwd, kVer) || code != QV_FX_SUCCESS)
    return false;
  char text[QV_BODY_BUFFER_SIZE], pud[64];
  const bool ok = fxLogin_Resp(text, &agent, pud, &agreement, code, length) == 1 && agent == 1024;
  benchmark::DoNotOptimize(text);
  benchmark::DoNotOptimize(pud);
  return ok;
}

bool library_num_rule() {
  int32_t code = -1, length = 0;
  if (!fxNumRule_Req(&code, &length) || code != QV_FX_SUCCESS) return false;
  char text[QV_BODY_BUFFER_SIZE];
  const bool ok = fxNumRule_Resp(text, code, length) == 1;
  benchmark::DoNotOptimize(text);
  return ok;
}

// Microseconds of wall-clock time: most of an exchange is waiting for the peer.
template <typename Call>
bool timed(Call &call, std::vector<double> &samples) {
  const auto start = Clock::now();
  const bool ok = call();
  samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  return ok;
}

template <typename LibraryCall, typename RawCall>
void run_paired(benchmark::State &state, LibraryCall library_call, RawCall raw_call) {
  std::vector<double> library, raw;
  bool library_first = true;
  for (auto _ : state) {
    const bool ok = library_first ? timed(library_call, library) && timed(raw_call, raw)
                                  : timed(raw_call, raw) && timed(library_call, library);
    if (!ok) {
      state.SkipWithError("an exchange failed");
      return;
    }
    library_first = !library_first;
  }
  const double library_us = median_of(std::move(library)), raw_us = median_of(std::move(raw));
  state.counters["library_us"] = library_us;
  state.counters["raw_us"] = raw_us;
  state.counters["ratio"] = raw_us > 0 ? library_us / raw_us : 0;
}

void print_row(const MedianCollector &results, const char *label, const std::string &name) {
  const auto library = results.counter(name, "library_us");
  const auto raw = results.counter(name, "raw_us");
  const auto ratio = results.counter(name, "ratio");
  if (!library || !raw || !ratio) {
    std::printf("%-34s not measured\n", label);
    return;
  }
  const bool met = *ratio <= 2.0 && *library < 1000;
  std::printf(
      "%-34s library %7.1f us  raw %7.1f us  ratio %.2f  (target <= 2.00 and < 1000 us: %s)\n",
      label, *library, *raw, *ratio, met ? "met" : "missed");
}

void print_split_row(const MedianCollector &results) {
  const auto split = results.counter("xml/login_split_write_floor", "split_us");
  const auto whole = results.counter("xml/login_split_write_floor", "whole_us");
  if (!split || !whole) {
    std::printf("%-34s not measured\n", "raw login, header then body");
    return;
  }
  std::printf("%-34s %7.1f us, one write %7.1f us\n", "raw login, header then body", *split,
              *whole);
}

// Puts the run's defaults ahead of the caller's flags, so that the caller's win.
std::vector<char *> arguments_with_defaults(int argc, char **argv) {
  static char repetitions[] = "--benchmark_repetitions=7";
  static char aggregates[] = "--benchmark_report_aggregates_only=true";
  static char min_time[] = "--benchmark_min_time=0.3";
  std::vector<char *> arguments{argv[0], repetitions, aggregates, min_time};
  arguments.insert(arguments.end(), argv + 1, argv + argc);
  arguments.push_back(nullptr);
  return arguments;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> arguments = arguments_with_defaults(argc, argv);
  int count = static_cast<int>(arguments.size()) - 1;
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;

  FxResponder responder;
  dllInitialize();
  if (!library_connect(responder.port())) return 1;
  RawFxClient raw(responder.port());
  if (!raw.connected()) {
    std::fprintf(stderr, "the raw client could not connect to its responder\n");
    return 1;
  }
  const Bytes login = login_request();
  const Bytes num_rule = message(kNumRuleCode, {});
  auto raw_login = [&] { return raw.exchange(login); };
  auto raw_num_rule = [&] { return raw.exchange(num_rule); };

  benchmark::RegisterBenchmark("xml/login", [&](benchmark::State &state) {
    run_paired(state, library_login, raw_login);
  })->UseRealTime();
  benchmark::RegisterBenchmark("xml/NumRule", [&](benchmark::State &state) {
    run_paired(state, library_num_rule, raw_num_rule);
  })->UseRealTime();
  // A handful of rounds: each split write may wait tens of milliseconds.
  benchmark::RegisterBenchmark("xml/login_split_write_floor",
                               [&](benchmark::State &state) {
                                 std::vector<double> split, whole;
                                 auto split_login = [&] { return raw.exchange(login, true); };
                                 for (auto _ : state) {
                                   if (!timed(split_login, split) || !timed(raw_login, whole)) {
                                     state.SkipWithError("an exchange failed");
                                     return;
                                   }
                                 }
                                 state.counters["split_us"] = median_of(std::move(split));
                                 state.counters["whole_us"] = median_of(std::move(whole));
                               })
      ->Iterations(kSplitWriteLogins)
      ->Repetitions(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);

  MedianCollector results;
  benchmark::RunSpecifiedBenchmarks(&results);
  std::printf("\nmedian latency per exchange, medians over the repetitions (ratio: library/raw)\n");
  print_row(results, "XML login (fxLogin_Req + _Resp)", "xml/login");
  print_row(results, "query (fxNumRule_Req + _Resp)", "xml/NumRule");
  print_split_row(results);
  benchmark::Shutdown();
  fxTcpDisconnect();
  dllUnInitialize();
  return 0;
}
