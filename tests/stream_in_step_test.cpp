// The stream stays in step.  A seeded generator drives the library against a
// server that names in every answer the request it answers, and that
// delivers a share of its answers late, dripped, split, cut off, reset, not
// at all or with a stray answer behind; the connection runs directly or
// through an HTTP proxy that refuses, stalls, drips or cuts its handshake;
// the calls come from one thread or from several at once.
//
// The two-call operations are also driven the wrong way round: a second
// half with no first half of its own, twice after one, after two first
// halves, and across a disconnect, a release or a reconnect.
//
// Invariant: no export returns 1 with an answer that was not sent for its
// own request on its own connection, or with one that did not arrive whole
// within the read time-out; a tagged call whose answer did arrive so
// returns 1 (a pair only where no other thread can renew the connection
// between its halves); no call hangs; and once the faults stop, ReLogin
// brings the library back in step.
//
//   QUORVEX_PROPERTY_SEED        the generator's seed (default 1)
//   QUORVEX_PROPERTY_ROUNDS      rounds (default 40)
//   QUORVEX_PROPERTY_TIMEOUT_MS  the library's read time-out (default 150)
//   QUORVEX_PROPERTY_FIRST_ROUND the first round's number (default 1): each
//                                round draws from the seed and its number alone
//   QUORVEX_PROPERTY_TRACE       set: print every call and its outcome
#include <quorvex.h>

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fault_proxy.h"
#include "tagging_server.h"

namespace qvtest {
namespace {

using Clock = std::chrono::steady_clock;

const char *const kApp = "prop-app";
const char *const kName = "demo";
const char *const kPwd = "secret";
constexpr int kThreads = 3;
constexpr int kCallsPerRound = 18;
constexpr unsigned kServerFaultPercent = 30, kProxyFaultPercent = 35;
// No reply of the server is longer; a longer length is a misread header.
constexpr int32_t kLongestReply = 4096;

long from_env(const char *name, long fallback) {
  const char *v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

// Open descriptors and threads of this process.
std::pair<size_t, size_t> process_resources() {
  size_t descriptors = 0, threads = 0;
  if (DIR *dir = ::opendir("/proc/self/fd")) {
    while (const dirent *entry = ::readdir(dir)) descriptors += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) threads = std::stoul(line.substr(8));
  return {descriptors, threads};
}

enum Call : int {
  kMms,
  kLoginPair,
  kHeartbeat,
  kUdInfo,
  kFxLoginPair,
  kFxQuery,
  kReLogin,
  kFxReLogin,
  kSecondAlone,
  kTwoFirsts,
  kRenewBetween
};
const char *const kCallNames[] = {"MMSMaxSize",
                                  "Login_Request+Login_Feedback",
                                  "Heartbeat",
                                  "GetUdInfo",
                                  "fxLogin_Req+fxLogin_Resp",
                                  "",
                                  "ReLogin",
                                  "fxReLogin",
                                  "",
                                  "",
                                  ""};
const std::vector<double> kCallWeights = {26, 14, 8, 10, 12, 22, 4, 4, 7, 7, 4};

struct FxQuery {
  const char *name, *kind;
  qv_bool (*req)(int32_t *, int32_t *);
  qv_bool (*resp)(char *, int32_t, int32_t);
};
const FxQuery kQueries[] = {{"fxMsgStates_Req+_Resp", "states", fxMsgStates_Req, fxMsgStates_Resp},
                            {"fxInfoType_Req+_Resp", "types", fxInfoType_Req, fxInfoType_Resp},
                            {"fxNumRule_Req+_Resp", "rule", fxNumRule_Req, fxNumRule_Resp},
                            {"fxNotify_Req+_Resp", "notify", fxNotify_Req, fxNotify_Resp}};

// One thread's calls in a round.
struct Caller {
  int round, thread;
  std::mt19937 rng;
  int index = 0;
  // The last XML reply header this thread was given, which a second half
  // with no first half of its own passes, so that a stale reply would fit.
  int32_t last_code = 20900, last_length = 64;
};

// How an operation is renewed between its two halves.
enum Renewal : int { kDisconnect, kRelease, kReconnect, kRenewalKinds };
const char *const kRenewalNames[] = {"TcpDisconnect", "dllUnInitialize+dllInitialize",
                                     "TcpDisconnect+TcpConnect"};

// The serial of an answer text "want@serial", or 0 when it answers something else.
long serial_if_for(const std::string &text, const std::string &want) {
  if (text.size() <= want.size() + 1 || text.compare(0, want.size(), want) != 0 ||
      text[want.size()] != '@')
    return 0;
  return std::strtol(text.c_str() + want.size() + 1, nullptr, 10);
}

// A text for the report: bytes outside printable ASCII as \xNN.
std::string printable(std::string_view text) {
  std::string out = "\"";
  for (const unsigned char ch : text) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", ch);
    out += ch >= 0x20 && ch < 0x7f ? std::string(1, char(ch)) : hex;
  }
  return out + "\"";
}

std::string fields(int32_t code, std::initializer_list<std::string> texts) {
  std::string out = "code " + std::to_string(code);
  for (const std::string &t : texts) out += ", " + printable(t);
  return out;
}

// Every breach of the invariant, with what it takes to find it again.
class Violations {
 public:
  explicit Violations(unsigned seed) : seed_(seed) {}
  void add(int round, int thread, int index, const std::string &call, const std::string &expected,
           const std::string &got) {
    std::lock_guard lock(mutex_);
    lines_.push_back("seed " + std::to_string(seed_) + ", round " + std::to_string(round) +
                     ", thread " + std::to_string(thread) + ", call " + std::to_string(index) +
                     " " + call + ": expected " + expected + "; got " + got);
  }
  std::vector<std::string> all() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  const unsigned seed_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class StreamInStep {
 public:
  StreamInStep(unsigned seed, int timeout_ms, TaggingServer &server, FaultProxy &proxy,
               Violations &violations)
      : seed_(seed),
        timeout_ms_(timeout_ms),
        server_(server),
        proxy_(proxy),
        violation_(violations) {}

  void round(int r);
  std::atomic<long> calls{0}, returned_1{0}, wrong_way{0};
  // Bumped as a host's disconnect or release starts and as it ends: a call
  // that overlapped one may fail without breaking the invariant.
  std::atomic<long> renewals{0};

 private:
  Caller caller(int r, int thread) {
    std::seed_seq seq{seed_, unsigned(r), unsigned(thread)};
    return Caller{r, thread, std::mt19937(seq)};
  }
  void call(Caller &c, int kind, bool faults_off);
  void took(Caller &c, const std::string &call, bool fields_match, const std::string &want,
            const std::string &text, const std::string &got);
  bool answered_whole(const std::string &tag) const {
    const auto fault = server_.first_fault_for(tag);
    return fault && TaggingServer::whole_in_time(*fault);
  }
  void faults(bool on, int r);
  bool connect_again(std::string &message);
  bool wrong_way_round(Caller &c, int kind, const std::string &tag, std::string &name, char *msg,
                       bool &must);

  const unsigned seed_;
  const int timeout_ms_;
  TaggingServer &server_;
  FaultProxy &proxy_;
  Violations &violation_;
  bool via_proxy_ = false, fx_connect_ = false;
  int threads_ = 1;
  const bool trace_ = std::getenv("QUORVEX_PROPERTY_TRACE") != nullptr;
};

void StreamInStep::faults(bool on, int r) {
  if (!on) {
    server_.set_faults({});
    proxy_.set_faults({});
    return;
  }
  auto pick = [](unsigned percent, int kinds, std::mt19937 rng) {
    return [percent, kinds, rng]() mutable {
      return rng() % 100 < percent ? 1 + int(rng() % unsigned(kinds - 1)) : 0;
    };
  };
  std::seed_seq server_seq{seed_, unsigned(r), 100u}, proxy_seq{seed_, unsigned(r), 200u};
  server_.set_faults(
      pick(kServerFaultPercent, TaggingServer::kFaultKinds, std::mt19937(server_seq)));
  proxy_.set_faults(pick(kProxyFaultPercent, FaultProxy::kHandshakeKinds, std::mt19937(proxy_seq)));
}

// A call returned 1: its answer must be the one sent for it, and one that
// the server delivered whole and in time.
void StreamInStep::took(Caller &c, const std::string &call, bool fields_match,
                        const std::string &want, const std::string &text, const std::string &got) {
  const long serial = serial_if_for(text, want);
  if (!fields_match || serial == 0)
    return violation_.add(c.round, c.thread, c.index, call, "the answer for " + want, got);
  const auto fault = server_.fault_of(serial);
  if (fault && !TaggingServer::whole_in_time(*fault))
    violation_.add(c.round, c.thread, c.index, call,
                   "an answer that arrived whole within the read time-out",
                   got + " (sent with fault " + TaggingServer::name(*fault) + ")");
}

bool StreamInStep::connect_again(std::string &message) {
  char buffer[QV_BODY_BUFFER_SIZE] = {};
  auto *connect = fx_connect_ ? fxTcpConnect : TcpConnect;
  const bool ok = connect(buffer, "127.0.0.1", server_.port(), 2000, via_proxy_ ? "http" : "",
                          "127.0.0.1", via_proxy_ ? proxy_.port() : 0, "", "");
  message = buffer;
  return ok;
}

// A second half that has no answer of its own waiting must return 0; after
// two first halves, it takes the later one's answer.  Returns the result
// the call came to.
bool StreamInStep::wrong_way_round(Caller &c, int kind, const std::string &tag, std::string &name,
                                   char *msg, bool &must) {
  const bool xml = c.rng() % 2;
  const std::string earlier = tag + "a";
  int32_t code = -1, length = 0, earlier_code = -1, earlier_length = 0;
  char p1[QV_PARAM_BUFFER_SIZE] = {}, p2[QV_PARAM_BUFFER_SIZE] = {}, p3[QV_PARAM_BUFFER_SIZE] = {};
  std::vector<char> body(kLongestReply + 64, '\0');
  int32_t agent = 0, agreement = 0;
  char pud[64] = {};
  auto second = [&](int32_t with_code, int32_t with_length) -> bool {
    if (!xml) return Login_Feedback(&code, msg, p1, p2, p3);
    std::fill(body.begin(), body.end(), '\0');
    return fxLogin_Resp(body.data(), &agent, pud, &agreement, with_code, with_length);
  };
  auto first = [&](const std::string &t, int32_t &got_code, int32_t &got_length) -> bool {
    if (!xml) return Login_Request(kApp, t.c_str(), kName, kPwd, t.c_str());
    const bool ok = fxLogin_Req(&got_code, &got_length, kApp, "", kName, kPwd, t.c_str());
    if (ok) c.last_code = got_code, c.last_length = got_length;
    return ok;
  };
  auto answer_text = [&] { return std::string(xml ? body.data() : p3); };
  auto must_fail = [&](const std::string &when, bool ok) {
    ++wrong_way;
    if (ok)
      violation_.add(c.round, c.thread, c.index, name, "0 for a second half " + when,
                     "1, " + printable(answer_text()));
  };
  const std::string pair = xml ? "fxLogin_Resp" : "Login_Feedback";
  switch (kind) {
    case kSecondAlone:
      name = pair + " alone";
      must_fail("with no first half of its own", second(c.last_code, c.last_length));
      return false;
    case kTwoFirsts: {
      // The later first half may be refused (a text too long): it still
      // ends what the earlier one kept.
      const bool refused = c.rng() % 3 == 0;
      name = pair + (refused ? " after a first half and a refused one" : " after two first halves");
      if (!first(earlier, earlier_code, earlier_length)) return false;
      if (refused) {
        const std::string too_long(QV_BODY_BUFFER_SIZE, 'x');
        if (xml)
          fxLogin_Req(nullptr, &length, kApp, "", kName, kPwd, tag.c_str());
        else
          Login_Request(too_long.c_str(), "", kName, kPwd, tag.c_str());
        must_fail("after a refused first half", second(earlier_code, earlier_length));
        return false;
      }
      if (!first(tag, code, length)) return false;
      // Another length than its first half returned: fails, and leaves the
      // reply for the corrected call that follows.
      if (xml) must_fail("given another length", second(code, length + 1));
      const bool ok = second(code, length);
      must = must || (threads_ == 1 && answered_whole(tag));
      if (ok)
        took(c, name, !xml ? code == 900 && tag == p3 : code == 20900, tag, xml ? body.data() : msg,
             fields(code, {answer_text()}));
      must_fail("twice after its first half", second(earlier_code, earlier_length));
      return ok;
    }
    default: {
      const auto renewal = Renewal(c.rng() % kRenewalKinds);
      name = pair + " across " + kRenewalNames[renewal];
      if (!first(tag, code, length)) return false;
      ++renewals;
      if (renewal == kRelease) {
        dllUnInitialize();
        dllInitialize();
      } else {
        TcpDisconnect();
      }
      ++renewals;
      std::string message;
      if (renewal != kDisconnect) connect_again(message);
      must_fail("whose connection has gone", second(code, length));
      // Nothing logged in on the new connection, whatever was kept before.
      int32_t state = 0, path = 0, protocol = 0, login_code = 0;
      GetConnectionState(&state, &path, &protocol, &login_code);
      if (threads_ == 1 && (state & QV_STATE_LOGGED_IN || protocol != QV_PROTOCOL_NONE))
        violation_.add(c.round, c.thread, c.index, name, "no login on the new connection",
                       "state " + std::to_string(state) + ", protocol " + std::to_string(protocol));
      return false;
    }
  }
}

void StreamInStep::call(Caller &c, int kind, bool faults_off) {
  const std::string tag = "r" + std::to_string(c.round) + "t" + std::to_string(c.thread) + "n" +
                          std::to_string(c.index);
  std::string name = kCallNames[kind];
  const auto start = Clock::now();
  const long renewals_before = renewals;
  bool ok = false, must = faults_off;
  int32_t code = -1, length = 0;
  char msg[QV_BODY_BUFFER_SIZE] = {}, p1[QV_PARAM_BUFFER_SIZE] = {}, p2[QV_PARAM_BUFFER_SIZE] = {},
       p3[QV_PARAM_BUFFER_SIZE] = {};
  // An XML pair: the header must be a reply of the server's; the body is
  // read into a buffer sized from its length.
  auto fx_pair = [&](const std::string &want, qv_bool req_ok, auto &&resp) {
    if (!req_ok) return;
    if (code != 20900 || length <= 0 || length > kLongestReply)
      return violation_.add(c.round, c.thread, c.index, name,
                            "a reply header 20900 with a reply's length",
                            "code " + std::to_string(code) + ", length " + std::to_string(length));
    std::vector<char> out(size_t(length) + 64, '\0');
    ok = resp(out.data());
    c.last_code = code, c.last_length = length;
    must = must || (kind == kFxLoginPair && threads_ == 1 && answered_whole(want));
    if (ok) took(c, name, true, want, out.data(), fields(code, {out.data()}));
  };
  switch (kind) {
    case kMms:
      ok = MMSMaxSize(&code, msg, p1, tag.c_str(), tag.c_str());
      must = must || answered_whole(tag);
      if (ok) took(c, name, code == 900 && tag == p1, tag, msg, fields(code, {msg, p1}));
      break;
    case kLoginPair:
      if (!Login_Request(kApp, tag.c_str(), kName, kPwd, tag.c_str())) break;
      ok = Login_Feedback(&code, msg, p1, p2, p3);
      must = must || (threads_ == 1 && answered_whole(tag));
      if (ok) took(c, name, code == 900 && tag == p3, tag, msg, fields(code, {msg, p1, p2, p3}));
      break;
    case kHeartbeat: ok = Heartbeat(); break;
    case kUdInfo:
      ok = GetUdInfo(&code, msg, p1, p2, p3);
      if (ok)
        took(c, name, code == 900 && std::string(p1) + p2 + p3 == "ud1ud2ud3", "ud", msg,
             fields(code, {msg, p1, p2, p3}));
      break;
    case kFxLoginPair:
      fx_pair(tag, fxLogin_Req(&code, &length, kApp, "", kName, kPwd, tag.c_str()), [&](char *out) {
        int32_t agent = 0, agreement = 0;
        char pud[64] = {};
        return fxLogin_Resp(out, &agent, pud, &agreement, code, length);
      });
      break;
    case kFxQuery: {
      const FxQuery &q = kQueries[c.rng() % std::size(kQueries)];
      name = q.name;
      fx_pair(q.kind, q.req(&code, &length), [&](char *out) { return q.resp(out, code, length); });
      break;
    }
    case kReLogin: ok = ReLogin(); break;
    case kFxReLogin: ok = fxReLogin(); break;
    default: ok = wrong_way_round(c, kind, tag, name, msg, must); break;
  }
  if (!ok && must && renewals == renewals_before)
    violation_.add(c.round, c.thread, c.index, name,
                   faults_off ? "result 1 with the faults off"
                              : "result 1 for an answer sent whole and in time",
                   "0, " + printable(msg));
  const long took_ms =
      long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  if (const long limit = 12L * timeout_ms_ + 2000; took_ms > limit)
    violation_.add(c.round, c.thread, c.index, name,
                   "a return within " + std::to_string(limit) + " ms",
                   std::to_string(took_ms) + " ms");
  if (trace_)
    std::printf("[stream in step] round %d, thread %d, call %d %s: %d in %ld ms, %s\n", c.round,
                c.thread, c.index, name.c_str(), int(ok), took_ms, fields(code, {msg}).c_str());
  ++c.index;
  ++calls;
  returned_1 += ok;
}

void StreamInStep::round(int r) {
  std::seed_seq plan_seq{seed_, unsigned(r)};
  std::mt19937 plan(plan_seq);
  const bool via_proxy = via_proxy_ = plan() % 2, fx_connect = fx_connect_ = plan() % 2;
  const int threads = threads_ = plan() % 2 ? kThreads : 1;
  std::printf("[stream in step] round %d: %s, %s, %d thread(s)\n", r,
              via_proxy ? "through the proxy" : "direct",
              fx_connect ? "fxTcpConnect" : "TcpConnect", threads);
  std::fflush(stdout);

  // Faults off: connecting and logging in must work.
  faults(false, r);
  Caller first = caller(r, 0);
  TcpDisconnect();
  char message[QV_BODY_BUFFER_SIZE] = {};
  auto *connect = fx_connect ? fxTcpConnect : TcpConnect;
  if (!connect(message, "127.0.0.1", server_.port(), 2000, via_proxy ? "http" : "", "127.0.0.1",
               via_proxy ? proxy_.port() : 0, "", ""))
    violation_.add(r, 0, 0, fx_connect ? "fxTcpConnect" : "TcpConnect", "a connection", message);
  call(first, kLoginPair, true);

  // Faults on: the calls, from one thread or several.
  faults(true, r);
  std::vector<Caller> callers;
  for (int t = 1; t <= threads; ++t) callers.push_back(caller(r, t));
  std::vector<std::thread> running;
  for (Caller &c : callers)
    running.emplace_back([this, &c, n = kCallsPerRound / threads] {
      std::discrete_distribution<int> pick(kCallWeights.begin(), kCallWeights.end());
      for (int i = 0; i < n; ++i) call(c, pick(c.rng), false);
    });
  for (std::thread &t : running) t.join();

  // Faults off: the next relogin brings the library back in step.
  faults(false, r);
  for (int kind : {kReLogin, kMms, kLoginPair, kFxLoginPair, kFxQuery, kUdInfo, kMms})
    call(first, kind, true);
}

template <class Counts>
std::string tally(const Counts &counts, const char *(*name)(int)) {
  long total = 0;
  std::string parts;
  for (size_t i = 0; i < counts.size(); ++i) {
    total += counts[i];
    parts += std::string(i ? ", " : "") + name(int(i)) + " " + std::to_string(counts[i]);
  }
  return std::to_string(total) + " (" + parts + ")";
}

TEST(StreamInStep, NoCallTakesAnAnswerThatWasNotSentForItsOwnRequest) {
  const auto seed = unsigned(from_env("QUORVEX_PROPERTY_SEED", 1));
  const int rounds = int(from_env("QUORVEX_PROPERTY_ROUNDS", 40));
  const int first_round = int(from_env("QUORVEX_PROPERTY_FIRST_ROUND", 1));
  const int timeout_ms = int(from_env("QUORVEX_PROPERTY_TIMEOUT_MS", 150));
  std::printf("[stream in step] seed %u, rounds %d to %d, read time-out %d ms\n", seed, first_round,
              first_round + rounds - 1, timeout_ms);
  std::thread([] {}).join();  // a sanitizer starts its own helper thread with the first thread
  const auto before = process_resources();
  const auto start = Clock::now();
  Violations violations(seed);
  std::string figures;
  {
    ASSERT_EQ(1, dllInitialize());
    ASSERT_EQ(1, SetReadTimeout(timeout_ms));
    std::atomic<int> current_round{0};
    TaggingServer server(timeout_ms, kName, kPwd);
    FaultProxy proxy(server.port(), timeout_ms, [&](const std::string &what) {
      violations.add(current_round, -1, -1, "proxy", "no bytes through a bad tunnel", what);
    });
    StreamInStep run(seed, timeout_ms, server, proxy, violations);
    for (int r = first_round; r < first_round + rounds; ++r) run.round(current_round = r);
    dllUnInitialize();
    figures = std::to_string(run.calls) + " calls, " + std::to_string(run.returned_1) +
              " returned 1, " + std::to_string(run.wrong_way) +
              " second halves with no answer of their own\n" + "[stream in step] server answers " +
              tally(server.counts(), TaggingServer::name) + "\n[stream in step] proxy handshakes " +
              tally(proxy.counts(), FaultProxy::name);
  }  // the proxy and the server join their threads here
  const std::vector<std::string> found = violations.all();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("[stream in step] %.1f s, %s\n[stream in step] violations: %zu\n", seconds,
              figures.c_str(), found.size());
  for (const std::string &v : found) std::printf("[stream in step]   %s\n", v.c_str());
  EXPECT_TRUE(found.empty()) << found.size() << " violations; first: " << found.front();
  EXPECT_EQ(before, process_resources()) << "descriptors and threads before and after";
}

}  // namespace
}  // namespace qvtest
