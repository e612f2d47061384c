// quorvex_commands_bench: the local number classification over a realistic
// carrier list, and one whole send job (seven record exchanges) against a
// loopback responder next to a raw-socket client doing the same seven
// write/read pairs in the same run.  Driven through the public header only.
//
// As in quorvex_bench, each iteration runs both sides back to back in
// alternating order and times each on its own, so that the ratio compares
// the two at the same moment of a shared, noisy machine.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library_session.h"
#include "loopback.h"
#include "median_collector.h"
#include "quorvex.h"

namespace {

using qvbench::LibrarySession;
using qvbench::Record;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- texts

// GBK bytes of a UTF-8 text, by the C library's iconv.
std::string gbk(std::string_view utf8) {
  iconv_t cd = ::iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in(utf8), out(utf8.size() * 2 + 4, '\0');
  char *src = in.data();
  char *dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  const size_t converted = ::iconv(cd, &src, &src_left, &dst, &dst_left);
  ::iconv_close(cd);
  if (converted == static_cast<size_t>(-1)) return {};
  out.resize(out.size() - dst_left);
  return out;
}

// A length-prefixed text for CheckTels, kept with its storage.
class PrefixedText {
 public:
  explicit PrefixedText(const std::string &text) : storage_(text.size() + 4) {
    pointer_ = qv_length_prefixed(storage_.data(), text.data(), static_cast<int32_t>(text.size()));
  }
  const char *get() const { return pointer_; }

 private:
  std::vector<char> storage_;
  const char *pointer_ = nullptr;
};

// ---------------------------------------------------------------- CheckTels

// A carrier list as a host loads it from its settings: a header, every
// mobile prefix from 130 to 199 under both carriers (the host does not know
// which one a prefix belongs to) behind two other carriers' entries, and
// notes.
std::string carrier_list() {
  const std::string mobile = gbk(",移动"), unicom = gbk(",联通"), telecom = gbk(",电信"),
                    broadcast = gbk(",广电");
  std::string list = gbk("号段表;版本,2024-05;");
  for (int prefix = 130; prefix <= 199; ++prefix) {
    const std::string p = std::to_string(prefix);
    list += p + telecom + ";" + p + broadcast + ";" + p + unicom + ";" + p + mobile + ";";
    if (prefix % 10 == 0) list += gbk("备注,") + p + gbk("段扩容") + ";;";
  }
  return list;
}

// The numbers of a day's recipients: mostly mobile numbers across the
// prefixes, some landlines (leading 0) and some malformed entries.
std::vector<std::string> recipient_numbers() {
  std::vector<std::string> numbers;
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int i = 0; i < 1000; ++i) {
    const unsigned r = next() % 100;
    char text[32];
    if (r < 80)
      std::snprintf(text, sizeof text, "%u%08u", 130 + next() % 70, next() % 100000000u);
    else if (r < 90)
      std::snprintf(text, sizeof text, "0%u%07u", 10 + next() % 90, next() % 10000000u);
    else if (r < 95)
      std::snprintf(text, sizeof text, "%u%04u", 130 + next() % 70, next() % 10000u);
    else
      std::snprintf(text, sizeof text, "1%uA%07u", 30 + next() % 70, next() % 10000000u);
    numbers.push_back(text);
  }
  return numbers;
}

// The same rule written plainly, for a floor in the same run: split the
// list into views on every call and compare whole entries.
int32_t plain_classify(std::string_view number, std::string_view list, const std::string &mobile,
                       const std::string &unicom) {
  if (number.size() < 8 || number.size() > 12) return 0;
  for (char c : number)
    if (c < '0' || c > '9') return 0;
  if (number[0] == '0') return 3;
  if (number.size() != 11) return 0;
  std::vector<std::string_view> entries;
  for (size_t at; (at = list.find(';')) != std::string_view::npos; list.remove_prefix(at + 1))
    if (at > 0) entries.push_back(list.substr(0, at));
  if (!list.empty()) entries.push_back(list);
  const std::string first = std::string(number.substr(0, 3)) + mobile;
  const std::string second = std::string(number.substr(0, 3)) + unicom;
  if (std::find(entries.begin(), entries.end(), first) != entries.end()) return 1;
  if (std::find(entries.begin(), entries.end(), second) != entries.end()) return 2;
  return 0;
}

struct TelsWorkload {
  std::string list = carrier_list();
  std::vector<std::string> numbers = recipient_numbers();
  PrefixedText prefixed_list{list};
  std::vector<PrefixedText> prefixed_numbers;
  std::string mobile = gbk(",移动"), unicom = gbk(",联通");
  size_t entries = 0;

  TelsWorkload() {
    for (const std::string &n : numbers) prefixed_numbers.emplace_back(n);
    for (size_t at = 0, next; at <= list.size(); at = next + 1) {
      next = list.find(';', at);
      if (next == std::string::npos) next = list.size();
      if (next > at) ++entries;
    }
  }
};

// Both sides classify the same block of numbers per iteration; the library
// and the plain rule must agree on every one.
void run_check_tels(benchmark::State &state, const TelsWorkload &work) {
  constexpr size_t kBlock = 100;
  size_t offset = 0;
  double library_seconds = 0, plain_seconds = 0;
  bool library_first = true;
  std::array<int32_t, kBlock> library_results{}, plain_results{};
  for (auto _ : state) {
    auto library_block = [&] {
      const auto start = Clock::now();
      for (size_t i = 0; i < kBlock; ++i)
        library_results[i] =
            CheckTels(work.prefixed_numbers[offset + i].get(), work.prefixed_list.get());
      library_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    };
    auto plain_block = [&] {
      const auto start = Clock::now();
      for (size_t i = 0; i < kBlock; ++i)
        plain_results[i] =
            plain_classify(work.numbers[offset + i], work.list, work.mobile, work.unicom);
      plain_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    };
    if (library_first) {
      library_block();
      plain_block();
    } else {
      plain_block();
      library_block();
    }
    library_first = !library_first;
    if (library_results != plain_results) {
      state.SkipWithError("CheckTels and the plain rule disagree");
      return;
    }
    offset = (offset + kBlock) % work.numbers.size();
  }
  const double classified = static_cast<double>(state.iterations() * kBlock);
  state.counters["library_per_s"] = classified / library_seconds;
  state.counters["plain_per_s"] = classified / plain_seconds;
  state.counters["ratio"] = plain_seconds / library_seconds;
}

// ---------------------------------------------------------------- send job

// One job's fields, as a host submits a small campaign.
struct JobFields {
  std::string product = "P0001";
  std::string numbers;
  std::string content = gbk("【示例商城】周末会员日,全场商品八折,积分双倍。回复TD退订。");
  std::string begin_date = "2024-05-01";
  std::string end_date = "2024-05-02";

  JobFields() {
    for (int i = 0; i < 100; ++i) {
      if (i > 0) numbers += ',';
      numbers += "139" + std::to_string(10000000 + i * 7919);
    }
  }
};

// The library side: the seven calls of a job, each checked for 900.
class LibraryJob {
 public:
  explicit LibraryJob(const JobFields &job) : job_(job) {}
  bool operator()() {
    return accepted(SubmitAllClear(&code_, message_)) &&
           accepted(SubmitPrdId(&code_, message_, job_.product.c_str())) &&
           accepted(SubmitTelList(&code_, message_, job_.numbers.c_str())) &&
           accepted(SubmitContent(&code_, message_, job_.content.c_str())) &&
           accepted(SubmitBgnDate(&code_, message_, job_.begin_date.c_str())) &&
           accepted(SubmitEndDate(&code_, message_, job_.end_date.c_str())) &&
           accepted(SubmitAllOver(&code_, message_));
  }

 private:
  bool accepted(qv_bool result) {
    benchmark::DoNotOptimize(message_);
    return result == 1 && code_ == QV_CODE_ACCEPTED;
  }
  const JobFields &job_;
  int32_t code_ = -1;
  char message_[QV_BODY_BUFFER_SIZE];
};

// One record written and answered on a raw socket, the answer's Body
// taken out as a caller receives it: the floor's exchange.
class RawExchange {
 public:
  explicit RawExchange(qvbench::RawRecordClient &client) : client_(client) {}
  bool operator()(int32_t code, std::string_view body) {
    qvbench::encode_record(request_, code, body, {});
    if (!client_.exchange(request_, reply_) || qvbench::record_code(reply_) != QV_CODE_ACCEPTED)
      return false;
    qvbench::take_text(reply_.data() + qvbench::kBodyOffset, qvbench::kBodySize, message_);
    benchmark::DoNotOptimize(message_);
    return true;
  }
  const Record &reply() const { return reply_; }

 private:
  qvbench::RawRecordClient &client_;
  Record request_{}, reply_{};
  char message_[QV_BODY_BUFFER_SIZE];
};

// The floor: the same seven records built, written and answered.
class RawJob {
 public:
  RawJob(qvbench::RawRecordClient &client, const JobFields &job) : exchange_(client), job_(job) {}
  bool operator()() {
    return exchange_(298, {}) && exchange_(201, job_.product) && exchange_(202, job_.numbers) &&
           exchange_(204, job_.content) && exchange_(206, job_.begin_date) &&
           exchange_(207, job_.end_date) && exchange_(299, {});
  }

 private:
  RawExchange exchange_;
  const JobFields &job_;
};

// The whole job in one QvSendJob (its SubmitTelNum and the three numbers of
// SubmitAllOver_2 included), on a session of its own, against a responder
// whose answers carry a submit's numbers.
class LibrarySender {
 public:
  LibrarySender(uint16_t port, const JobFields &job)
      : session_(QvSessionCreate()), job_(QvJobCreate()) {
    char message[QV_BODY_BUFFER_SIZE];
    char p[3][QV_PARAM_BUFFER_SIZE];
    int32_t code = -1;
    ready_ = QvTcpConnect(session_, message, "127.0.0.1", port, 5000, "", "", 0, "", "") &&
             QvLogin_Request(session_, "bench", "", "demo", "demo123", "1.0") &&
             QvLogin_Feedback(session_, &code, message, p[0], p[1], p[2]);
    QvJobSetText(job_, QV_JOB_PRODUCT, job.product.c_str(), -1, QV_TEXT_GBK);
    QvJobSetText(job_, QV_JOB_CONTENT, job.content.c_str(), -1, QV_TEXT_GBK);
    QvJobSetText(job_, QV_JOB_BEGIN_DATE, job.begin_date.c_str(), -1, QV_TEXT_GBK);
    QvJobSetText(job_, QV_JOB_END_DATE, job.end_date.c_str(), -1, QV_TEXT_GBK);
    for (size_t at = 0; at < job.numbers.size();) {
      const size_t comma = std::min(job.numbers.find(',', at), job.numbers.size());
      QvJobAddNumber(job_, job.numbers.substr(at, comma - at).c_str());
      at = comma + 1;
    }
  }
  ~LibrarySender() {
    QvJobDestroy(job_);
    QvSessionDestroy(session_);
  }
  LibrarySender(const LibrarySender &) = delete;
  LibrarySender &operator=(const LibrarySender &) = delete;
  bool ready() const { return ready_; }
  bool operator()() { return QvSendJob(session_, job_, 1) == 1; }

 private:
  QvSession *session_;
  QvJob *job_;
  bool ready_ = false;
};

// Its floor: the same eight records built, written and answered, the
// answer's Body and the submit's numbers taken out.
class RawSender {
 public:
  RawSender(qvbench::RawRecordClient &client, const JobFields &job)
      : exchange_(client), job_(job) {}
  bool operator()() {
    return exchange_(298, {}) && exchange_(201, job_.product) && exchange_(202, job_.numbers) &&
           exchange_(203, "100") && exchange_(204, job_.content) &&
           exchange_(206, job_.begin_date) && exchange_(207, job_.end_date) && exchange_(299, {}) &&
           numbers_taken();
  }

 private:
  bool numbers_taken() {
    for (size_t i = 0; i < 3; ++i) {
      char text[qvbench::kParamSize + 1];
      qvbench::take_text(
          exchange_.reply().data() + qvbench::kParam1Offset + i * qvbench::kParamSize,
          qvbench::kParamSize, text);
      numbers_[i] = std::atoi(text);
    }
    benchmark::DoNotOptimize(numbers_);
    return numbers_[0] == 100;
  }
  RawExchange exchange_;
  const JobFields &job_;
  int numbers_[3] = {};
};

template <class Library, class Raw>
void run_send_jobs(benchmark::State &state, LibrarySession *session, Library &library_job,
                   Raw &raw_job) {
  if (const std::string why = session ? session->ensure() : std::string(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  double library_seconds = 0, raw_seconds = 0;
  auto timed = [](auto &job, double &seconds) {
    const auto start = Clock::now();
    const bool ok = job();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    return ok;
  };
  bool library_first = true;
  for (auto _ : state) {
    const bool ok = library_first
                        ? timed(library_job, library_seconds) && timed(raw_job, raw_seconds)
                        : timed(raw_job, raw_seconds) && timed(library_job, library_seconds);
    if (!ok) {
      state.SkipWithError("a job's exchange failed");
      return;
    }
    library_first = !library_first;
  }
  const double jobs = static_cast<double>(state.iterations());
  state.counters["library_per_s"] = jobs / library_seconds;
  state.counters["raw_per_s"] = jobs / raw_seconds;
  state.counters["ratio"] = raw_seconds / library_seconds;
}

// ---------------------------------------------------------------- report

void print_row(const MedianCollector &results, const char *label, const std::string &name,
               const char *floor, const char *unit) {
  const auto library = results.counter(name, "library_per_s");
  const auto reference = results.counter(name, std::string(floor) + "_per_s");
  const auto ratio = results.counter(name, "ratio");
  if (!library || !reference || !ratio) {
    std::printf("%-34s not measured\n", label);
    return;
  }
  std::printf("%-34s library %10.0f %s/s  %s %10.0f %s/s  ratio %.2f\n", label, *library, unit,
              floor, *reference, unit, *ratio);
}

std::vector<char *> arguments_with_defaults(int argc, char **argv) {
  static char repetitions[] = "--benchmark_repetitions=5";
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

  const TelsWorkload tels;
  if (tels.mobile.empty()) {
    std::fprintf(stderr, "iconv cannot convert to GBK\n");
    return 1;
  }

  qvbench::LoopbackResponder responder;
  dllInitialize();
  int exit_code = 0;
  {
    LibrarySession session(responder.port());
    qvbench::RawRecordClient raw_client(responder.port());
    if (!raw_client.connected()) {
      std::fprintf(stderr, "the raw client could not connect to its responder\n");
      exit_code = 1;
    } else {
      const JobFields job;
      LibraryJob library_job(job);
      RawJob raw_job(raw_client, job);

      benchmark::RegisterBenchmark("check_tels",
                                   [&](benchmark::State &state) { run_check_tels(state, tels); });
      benchmark::RegisterBenchmark("send_job", [&](benchmark::State &state) {
        run_send_jobs(state, &session, library_job, raw_job);
      })->UseRealTime();
      qvbench::LoopbackResponder submit_responder("100", "100", "9900");
      qvbench::RawRecordClient submit_client(submit_responder.port());
      LibrarySender sender(submit_responder.port(), job);
      RawSender raw_sender(submit_client, job);
      benchmark::RegisterBenchmark("qv_send_job", [&](benchmark::State &state) {
        if (!sender.ready() || !submit_client.connected()) {
          state.SkipWithError("the job responder could not be reached");
          return;
        }
        run_send_jobs(state, nullptr, sender, raw_sender);
      })->UseRealTime();

      MedianCollector results;
      benchmark::RunSpecifiedBenchmarks(&results);
      std::printf("\nmedians over the repetitions (ratio: library/floor, measured pairwise)\n");
      std::printf("carrier list: %zu entries, %zu bytes; %zu recipient numbers\n", tels.entries,
                  tels.list.size(), tels.numbers.size());
      print_row(results, "CheckTels classifications", "check_tels", "plain", "numbers");
      print_row(results, "send job (7 exchanges)", "send_job", "raw", "jobs");
      if (const auto jobs = results.counter("send_job", "library_per_s"))
        std::printf("%-34s library %10.0f exchanges/s\n", "", *jobs * 7);
      print_row(results, "QvSendJob (8 exchanges)", "qv_send_job", "raw", "jobs");
    }
  }
  dllUnInitialize();
  benchmark::Shutdown();
  return exit_code;
}
