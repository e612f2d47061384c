// quorvex_bench: the library's record exchange and timed connect beside a
// raw-socket floor measured in the same run, and the heap allocations of an
// exchange.  Driven through the public header only, as a host drives it.
//
// Each benchmark iteration runs the library and the floor back to back, in
// alternating order, and times each side on its own: both sides then see the
// same machine at the same moment, which a shared, noisy host needs for a
// ratio to mean anything.  Google Benchmark flags work as usual; the defaults
// below can be overridden on the command line.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "library_session.h"
#include "loopback.h"
#include "median.h"
#include "median_collector.h"
#include "quorvex.h"

namespace {

using qvbench::LibrarySession;
using qvbench::Record;
using Clock = std::chrono::steady_clock;

constexpr int32_t kHeartbeatCode = 105;
constexpr int32_t kMmsMaxSizeCode = 104;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kConnectPairsPerRepetition = 200;
constexpr int kAllocationWarmup = 100;
constexpr int kAllocationExchanges = 2000;

// A request text of a few hundred bytes, as a host asking about one message.
const std::string kRequestText = [] {
  std::string text;
  while (text.size() < 300) text += "mms size query: 3 frames, 2 images, 1 audio clip; ";
  return text;
}();
constexpr char kRequestParam[] = "demo-mms-001";

// Initialises the library for the whole run and releases it at the end.
struct LibraryLifetime {
  LibraryLifetime() { dllInitialize(); }
  ~LibraryLifetime() { dllUnInitialize(); }
  LibraryLifetime(const LibraryLifetime &) = delete;
  LibraryLifetime &operator=(const LibraryLifetime &) = delete;
};

bool library_heartbeat() { return Heartbeat() == 1; }

bool library_mms_max_size() {
  int32_t code = -1;
  char message[QV_BODY_BUFFER_SIZE];
  char param[QV_PARAM_BUFFER_SIZE];
  const bool ok = MMSMaxSize(&code, message, param, kRequestText.c_str(), kRequestParam) == 1 &&
                  code == QV_CODE_ACCEPTED;
  benchmark::DoNotOptimize(message);
  benchmark::DoNotOptimize(param);
  return ok;
}

// The floor for Heartbeat: encode the record, write it, read the answer.
class RawHeartbeat {
 public:
  explicit RawHeartbeat(qvbench::RawRecordClient &client) : client_(client) {}
  bool operator()() {
    qvbench::encode_record(request_, kHeartbeatCode, {}, {});
    return client_.exchange(request_, reply_) && qvbench::record_code(reply_) == QV_CODE_ACCEPTED;
  }

 private:
  qvbench::RawRecordClient &client_;
  Record request_{}, reply_{};
};

// The floor for MMSMaxSize: the same, with the texts put in and taken out as
// the library must.
class RawMmsMaxSize {
 public:
  explicit RawMmsMaxSize(qvbench::RawRecordClient &client) : client_(client) {}
  bool operator()() {
    qvbench::encode_record(request_, kMmsMaxSizeCode, kRequestText, kRequestParam);
    if (!client_.exchange(request_, reply_) || qvbench::record_code(reply_) != QV_CODE_ACCEPTED)
      return false;
    qvbench::take_text(reply_.data() + qvbench::kBodyOffset, qvbench::kBodySize, message_);
    qvbench::take_text(reply_.data() + qvbench::kParam1Offset, qvbench::kParamSize, param_);
    benchmark::DoNotOptimize(message_);
    benchmark::DoNotOptimize(param_);
    return true;
  }

 private:
  qvbench::RawRecordClient &client_;
  Record request_{}, reply_{};
  char message_[QV_BODY_BUFFER_SIZE];
  char param_[QV_PARAM_BUFFER_SIZE];
};

// Wall-clock time of one side's calls: most of an exchange is waiting for
// the peer, which CPU time would leave out.
struct SideClock {
  double seconds = 0;
  std::vector<double> samples_us;  // kept only where a median is wanted

  template <typename Call>
  bool time(Call &call, bool keep_sample = false) {
    const auto start = Clock::now();
    const bool ok = call();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    seconds += elapsed.count();
    if (keep_sample) samples_us.push_back(elapsed.count() * 1e6);
    return ok;
  }
};

// Runs `first` then `second` on even iterations and the other way round on
// odd ones, so that neither side always inherits the other's aftermath.
template <typename A, typename B>
bool run_pair(bool a_first, A &a, B &b) {
  return a_first ? a() && b() : b() && a();
}

template <typename LibraryCall, typename RawCall>
void run_paired_exchanges(benchmark::State &state, LibrarySession &session,
                          LibraryCall library_call, RawCall raw_call) {
  if (const std::string why = session.ensure(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  SideClock library, raw;
  auto timed_library = [&] { return library.time(library_call); };
  auto timed_raw = [&] { return raw.time(raw_call); };
  bool library_first = true;
  for (auto _ : state) {
    if (!run_pair(library_first, timed_library, timed_raw)) {
      state.SkipWithError("an exchange failed");
      session.drop();
      return;
    }
    library_first = !library_first;
  }
  const auto exchanges = static_cast<double>(state.iterations());
  state.counters["library_per_s"] = exchanges / library.seconds;
  state.counters["raw_per_s"] = exchanges / raw.seconds;
  state.counters["ratio"] = raw.seconds / library.seconds;
}

// Each iteration is one library connect and one raw connect to the same
// listener.  Only the connect is timed: the close that follows is no part of
// a connect's latency, on either side.
void run_paired_connects(benchmark::State &state, LibrarySession &session, uint16_t port) {
  session.drop();  // TcpConnect refuses while the session's connection is open
  char message[QV_BODY_BUFFER_SIZE];
  qvbench::Socket raw_socket;
  auto library_connect = [&] {
    return TcpConnect(message, "127.0.0.1", port, kConnectTimeoutMs, "", "", 0, "", "") == 1;
  };
  auto raw_connect = [&] {
    raw_socket = qvbench::raw_connect(port);
    return raw_socket.valid();
  };
  SideClock library, raw;
  library.samples_us.reserve(static_cast<std::size_t>(state.max_iterations));
  raw.samples_us.reserve(static_cast<std::size_t>(state.max_iterations));
  auto library_cycle = [&] {
    const bool ok = library.time(library_connect, true);
    TcpDisconnect();
    return ok;
  };
  auto raw_cycle = [&] {
    const bool ok = raw.time(raw_connect, true);
    raw_socket.reset();
    return ok;
  };
  bool library_first = true;
  for (auto _ : state) {
    if (!run_pair(library_first, library_cycle, raw_cycle)) {
      state.SkipWithError("a connect failed");
      return;
    }
    library_first = !library_first;
  }
  state.counters["library_us"] = median_of(std::move(library.samples_us));
  state.counters["raw_us"] = median_of(std::move(raw.samples_us));
}

struct AllocationReport {
  bool measured = false;
  double heartbeat_per_exchange = 0;
  double mms_per_exchange = 0;
  qvbench::AllocationCount total;
};

template <typename Call>
std::optional<qvbench::AllocationCount> count_allocations(Call call) {
  for (int i = 0; i < kAllocationWarmup; ++i)
    if (!call()) return std::nullopt;
  const qvbench::AllocationCount before = qvbench::allocations_so_far();
  for (int i = 0; i < kAllocationExchanges; ++i)
    if (!call()) return std::nullopt;
  return qvbench::allocations_so_far() - before;
}

AllocationReport measure_allocations(LibrarySession &session) {
  AllocationReport report;
  if (const std::string why = session.ensure(); !why.empty()) {
    std::fprintf(stderr, "allocation count skipped: %s\n", why.c_str());
    return report;
  }
  const auto heartbeat = count_allocations(library_heartbeat);
  const auto mms = count_allocations(library_mms_max_size);
  if (!heartbeat || !mms) {
    std::fprintf(stderr, "allocation count skipped: a library call failed\n");
    return report;
  }
  report.measured = true;
  report.heartbeat_per_exchange = double(heartbeat->total()) / kAllocationExchanges;
  report.mms_per_exchange = double(mms->total()) / kAllocationExchanges;
  report.total = {heartbeat->operator_new + mms->operator_new, heartbeat->c_heap + mms->c_heap};
  return report;
}

void print_exchange_row(const MedianCollector &results, const char *label,
                        const std::string &name) {
  const auto library = results.counter(name, "library_per_s");
  const auto raw = results.counter(name, "raw_per_s");
  const auto ratio = results.counter(name, "ratio");
  if (!library || !raw || !ratio) {
    std::printf("%-30s not measured\n", label);
    return;
  }
  std::printf("%-30s library %8.0f/s  raw %8.0f/s  ratio %.2f  (target 0.90: %s)\n", label,
              *library, *raw, *ratio, *ratio >= 0.9 ? "met" : "missed");
}

void print_connect_row(const MedianCollector &results) {
  const auto library = results.counter("connect", "library_us");
  const auto raw = results.counter("connect", "raw_us");
  if (!library || !raw) {
    std::printf("%-30s not measured\n", "timed connect median");
    return;
  }
  std::printf("%-30s library %8.0f us  raw %8.0f us  (target under 1000 us: %s)\n",
              "timed connect median", *library, *raw, *library < 1000 ? "met" : "missed");
}

void print_allocation_row(const AllocationReport &allocations) {
  const char *label = "heap allocations per exchange";
  if (!allocations.measured) {
    std::printf("%-30s not measured\n", label);
    return;
  }
  std::printf("%-30s Heartbeat %g, MMSMaxSize %g  (target 0: %s)\n", label,
              allocations.heartbeat_per_exchange, allocations.mms_per_exchange,
              allocations.total.total() == 0 ? "met" : "missed");
  std::printf("%-30s operator new %llu, %s %llu, over %d + %d exchanges after warm-up\n", "",
              static_cast<unsigned long long>(allocations.total.operator_new),
              qvbench::counts_c_heap() ? "malloc/calloc/realloc" : "malloc (not counted)",
              static_cast<unsigned long long>(allocations.total.c_heap), kAllocationExchanges,
              kAllocationExchanges);
}

void print_table(const MedianCollector &results, const AllocationReport &allocations) {
  std::printf("\nmedians over the repetitions (ratio: library/raw, measured pairwise)\n");
  print_exchange_row(results, "record exchange (Heartbeat)", "exchange/Heartbeat");
  print_exchange_row(results, "record exchange (MMSMaxSize)", "exchange/MMSMaxSize");
  print_exchange_row(results, "record exchange (Heartbeat, traced)", "exchange/Heartbeat traced");
  print_connect_row(results);
  print_allocation_row(allocations);
}

// Puts the run's defaults ahead of the caller's flags, so that the caller's win.
std::vector<char *> arguments_with_defaults(int argc, char **argv) {
  static char repetitions[] = "--benchmark_repetitions=9";
  static char aggregates[] = "--benchmark_report_aggregates_only=true";
  static char min_time[] = "--benchmark_min_time=0.5";
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

  // One responder serves both clients, so both talk to the same peer thread.
  qvbench::LoopbackResponder responder;
  qvbench::ClosingAcceptor connect_target;

  LibraryLifetime library;
  LibrarySession session(responder.port());
  qvbench::RawRecordClient raw_client(responder.port());
  if (!raw_client.connected()) {
    std::fprintf(stderr, "the raw client could not connect to its responder\n");
    return 1;
  }
  RawHeartbeat raw_heartbeat(raw_client);
  RawMmsMaxSize raw_mms_max_size(raw_client);

  benchmark::RegisterBenchmark("exchange/Heartbeat", [&](benchmark::State &state) {
    run_paired_exchanges(state, session, library_heartbeat, raw_heartbeat);
  })->UseRealTime();
  benchmark::RegisterBenchmark("exchange/MMSMaxSize", [&](benchmark::State &state) {
    run_paired_exchanges(state, session, library_mms_max_size, raw_mms_max_size);
  })->UseRealTime();
  // The price of the protocol trace when it runs: every line formatted and
  // written to a regular file (the trace takes nothing else), in memory
  // where /dev/shm exists, so that no disk is measured.
  const std::string trace_path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                 "/quorvex-bench-trace-" + std::to_string(getpid()) + ".log";
  benchmark::RegisterBenchmark("exchange/Heartbeat traced", [&](benchmark::State &state) {
    if (!TraceStart(trace_path.c_str(), 0)) {
      state.SkipWithError("the trace did not start");
      return;
    }
    run_paired_exchanges(state, session, library_heartbeat, raw_heartbeat);
    TraceStop();
    std::remove(trace_path.c_str());
  })->UseRealTime();
  benchmark::RegisterBenchmark(
      "connect",
      [&](benchmark::State &state) { run_paired_connects(state, session, connect_target.port()); })
      ->Iterations(kConnectPairsPerRepetition)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);

  MedianCollector results;
  benchmark::RunSpecifiedBenchmarks(&results);
  const AllocationReport allocations = measure_allocations(session);
  print_table(results, allocations);
  benchmark::Shutdown();
  return 0;
}
