// Sessions through the public header, as a host calls them.
//
// The property: several sessions, each with an account of its own against a
// server of its own that names in every answer the request it answers and
// delivers a share of its answers split, late, cut off, reset or with a
// stray one behind, driven by several threads per session.  Invariant: no
// call returns 1 with an answer that was not sent for its own request on
// its own session, a session's last outcome for a thread is that thread's
// last call on it, and every trace line about a request names the session
// that sent it.
//
//   QUORVEX_PROPERTY_SEED   the generator's seed (default 1)
#include <quorvex.h>

#include <dirent.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "record_bytes.h"
#include "tagging_server.h"

namespace qvtest {
namespace {

constexpr int kSessions = 4, kThreadsPerSession = 2, kCallsPerThread = 40;
constexpr const char *kNotALiveSession =
    "Argument 1 is not a live session: QvSessionCreate did not make it, or it was destroyed.";
constexpr int kReadTimeoutMs = 150;

bool connect(QvSession *s, uint16_t port) {
  char msg[QV_BODY_BUFFER_SIZE];
  return QvTcpConnect(s, msg, "127.0.0.1", port, 2000, "", "", 0, "", "") == 1;
}

// The thread's last outcome, as GetLastOutcome or a session's twin says it.
std::string outcome(QvSession *s = nullptr) {
  int32_t kind = -1, sent = -1, argument = -1, socket_error = -1;
  char detail[QV_DETAIL_BUFFER_SIZE];
  if (s)
    QvGetLastOutcome(s, &kind, &sent, &argument, &socket_error, detail, sizeof detail);
  else
    GetLastOutcome(&kind, &sent, &argument, &socket_error, detail, sizeof detail);
  return std::to_string(kind) + "/" + std::to_string(sent) + "/" + std::to_string(argument) + "/" +
         std::to_string(socket_error) + "/" + detail;
}

std::string read_file(const char *path) {
  std::string text;
  if (FILE *f = std::fopen(path, "rb")) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
  }
  return text;
}

bool contains(const std::string &text, const char *what) {
  return text.find(what) != std::string::npos;
}

struct Account {
  std::string name, pwd;
};

// One thread's calls on one session; a violation is an answer that another
// request (of this session or another) was sent for.
void drive(QvSession *s, const Account &account, int session, int thread, unsigned seed,
           std::atomic<long> &calls, std::atomic<long> &answered, std::vector<std::string> &bad) {
  std::mt19937 pick(seed * 7919U + static_cast<unsigned>(session * 31 + thread));
  for (int n = 0; n < kCallsPerThread; ++n) {
    const std::string tag =
        "s" + std::to_string(session) + "t" + std::to_string(thread) + "n" + std::to_string(n);
    int32_t code = -1;
    char msg[QV_BODY_BUFFER_SIZE] = "", p1[QV_PARAM_BUFFER_SIZE] = "",
         p2[QV_PARAM_BUFFER_SIZE] = "", p3[QV_PARAM_BUFFER_SIZE] = "";
    bool ok = false, own = true;
    switch (pick() % 3) {
      case 0:  // the answer carries the body and Param1 that were sent
        ok = QvMMSMaxSize(s, &code, msg, p1, tag.c_str(), tag.c_str()) == 1;
        own = code == 900 && tag == p1 && std::string(msg).rfind(tag + "@", 0) == 0;
        break;
      case 1:  // accepted only with the session's own account
        ok = QvLogin_Request(s, "app", tag.c_str(), account.name.c_str(), account.pwd.c_str(),
                             tag.c_str()) == 1 &&
             QvLogin_Feedback(s, &code, msg, p1, p2, p3) == 1;
        own = code == 900 && tag == p3 && std::string(msg).rfind(tag + "@", 0) == 0;
        break;
      default: {  // an XML pair: the reply names the ver that was sent
        int32_t length = 0, agent = 0, agreement = 0;
        char pud[4096] = "";
        std::vector<char> text(4096);
        ok = QvfxLogin_Req(s, &code, &length, "app", "", account.name.c_str(), account.pwd.c_str(),
                           tag.c_str()) == 1 &&
             length < 4000 &&
             QvfxLogin_Resp(s, text.data(), &agent, pud, &agreement, code, length) == 1;
        own = code == 20900 && std::string(text.data()).find(tag + "@") != std::string::npos;
      }
    }
    const std::string last = outcome(), on_session = outcome(s);
    ++calls;
    if (ok) ++answered;
    if ((ok && !own) || last != on_session)
      bad.push_back(tag + ": result " + std::to_string(ok) + ", code " + std::to_string(code) +
                    ", message " + msg + ", outcome " + last + " on the session " + on_session);
  }
}

// The trace lines that show a request's tag ("s2t1n7", sent by the test's
// session 2) on a line that names another session: the sessions are the
// trace's s<N> in the order the trace saw them created.
std::string lines_naming_another_session(const std::string &trace) {
  const std::regex created(R"(^\S+ t\d+ session s(\d+) created$)");
  const std::regex label(R"(^\S+ t\d+ s(\d+) )"), tag(R"("s(\d+)t\d+n\d+)");
  std::vector<std::string> numbers;
  std::string wrong;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m, t;
    if (std::regex_search(line, m, created)) numbers.push_back(m[1]);
    if (!std::regex_search(line, t, tag)) continue;
    const size_t session = std::stoul(t[1]);
    if (!std::regex_search(line, m, label) || session >= numbers.size() || m[1] != numbers[session])
      wrong += line + "\n";
  }
  return numbers.size() == kSessions ? wrong : "created " + std::to_string(numbers.size());
}

TEST(SessionsProperty, NoAnswerCrossesSessions) {
  const unsigned seed = static_cast<unsigned>(std::strtoul(
      std::getenv("QUORVEX_PROPERTY_SEED") ? std::getenv("QUORVEX_PROPERTY_SEED") : "1", nullptr,
      10));
  std::vector<std::unique_ptr<TaggingServer>> servers;
  std::vector<Account> accounts;
  std::vector<QvSession *> sessions;
  char trace[] = "/tmp/qv-sessions-XXXXXX";
  const int fd = mkstemp(trace);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(TraceStart(trace, 0), 1);
  for (int i = 0; i < kSessions; ++i) {
    accounts.push_back({"user" + std::to_string(i), "pwd" + std::to_string(i)});
    servers.push_back(
        std::make_unique<TaggingServer>(kReadTimeoutMs, accounts[i].name, accounts[i].pwd));
    auto faults = std::make_shared<std::mt19937>(seed + static_cast<unsigned>(i));
    const TaggingServer::Fault kinds[] = {TaggingServer::kSplit, TaggingServer::kClose,
                                          TaggingServer::kReset, TaggingServer::kExtra,
                                          TaggingServer::kDelay};
    servers[i]->set_faults([faults, kinds] {
      const unsigned r = (*faults)() % 100;
      return r < 80 ? TaggingServer::kNone : kinds[r % 5];
    });
    sessions.push_back(QvSessionCreate());
    ASSERT_NE(sessions[i], nullptr);
    ASSERT_EQ(QvSetReadTimeout(sessions[i], kReadTimeoutMs), 1);
    ASSERT_TRUE(connect(sessions[i], servers[i]->port())) << "session " << i;
  }
  std::atomic<long> calls{0}, answered{0};
  std::vector<std::vector<std::string>> bad(kSessions * kThreadsPerSession);
  std::vector<std::thread> threads;
  for (int i = 0; i < kSessions; ++i)
    for (int t = 0; t < kThreadsPerSession; ++t)
      threads.emplace_back(drive, sessions[i], std::cref(accounts[i]), i, t, seed, std::ref(calls),
                           std::ref(answered), std::ref(bad[i * kThreadsPerSession + t]));
  for (std::thread &t : threads) t.join();
  long violations = 0;
  for (const auto &list : bad) {
    violations += static_cast<long>(list.size());
    for (const std::string &b : list) ADD_FAILURE() << b;
  }
  std::array<long, TaggingServer::kFaultKinds> faults{};
  for (const auto &server : servers)
    for (int k = 0; k < TaggingServer::kFaultKinds; ++k) faults[k] += server->counts()[k];
  std::string tally;
  for (int k = 0; k < TaggingServer::kFaultKinds; ++k)
    tally += std::string(k ? ", " : "") + TaggingServer::name(k) + " " + std::to_string(faults[k]);
  std::printf(
      "sessions property: seed %u, %d sessions, %d threads, %ld calls, %ld answered, %ld "
      "violations; answers sent: %s\n",
      seed, kSessions, kSessions * kThreadsPerSession, calls.load(), answered.load(), violations,
      tally.c_str());
  EXPECT_GT(answered.load(), calls.load() / 4);  // the faults spare most answers
  for (QvSession *s : sessions) QvSessionDestroy(s);
  TraceStop();
  EXPECT_EQ(lines_naming_another_session(read_file(trace)), "");
  std::remove(trace);
}

// The bad inputs: a null session, the default session destroyed, a
// session after release, a destroy while a call is blocked, many sessions.

TEST(SessionsBadInput, ANullSessionIsRefusedAndNothingIsWritten) {
  int32_t code = 77, n = 77;
  char msg[QV_BODY_BUFFER_SIZE] = "untouched", p[QV_PARAM_BUFFER_SIZE] = "untouched";
  const std::vector<std::function<qv_bool()>> twins = {
      [&] { return QvTcpConnect(nullptr, msg, "127.0.0.1", 1, 100, "", "", 0, "", ""); },
      [&] { return QvHeartbeat(nullptr); },
      [&] { return QvGetUdInfo(nullptr, &code, msg, p, p, p); },
      [&] { return QvSubmitAllOver_2(nullptr, &code, msg, &n, &n, &n); },
      [&] { return QvfxNumRule_Req(nullptr, &code, &n); },
      [&] { return QvfxNumRule_Resp(nullptr, msg, 900, 10); },
      [&] { return QvGetLastOutcome(nullptr, &n, &n, &n, &n, msg, sizeof msg); },
      [&] { return QvGetConnectionState(nullptr, &n, &n, &n, &n); },
  };
  for (size_t i = 0; i < twins.size(); ++i) {
    EXPECT_EQ(twins[i](), 0) << "twin " << i;
    EXPECT_EQ(outcome(), "1/0/1/0/Argument 1 (the session) is a null pointer.") << "twin " << i;
    EXPECT_EQ(code, 77);
    EXPECT_EQ(n, 77);
    EXPECT_STREQ(msg, "untouched");
    EXPECT_STREQ(p, "untouched");
  }
}

TEST(SessionsBadInput, TheDefaultSessionAndNullAreNeverDestroyed) {
  EXPECT_EQ(QvDefaultSession(), nullptr);
  ASSERT_EQ(dllInitialize(), 1);
  QvSession *d = QvDefaultSession();
  ASSERT_NE(d, nullptr);
  QvSessionDestroy(d);
  EXPECT_EQ(outcome(), "1/0/1/0/Argument 1 is the default session, which is never destroyed.");
  QvSessionDestroy(nullptr);
  EXPECT_EQ(outcome(), "1/0/1/0/Argument 1 (the session) is a null pointer.");
  int32_t state = 0;
  EXPECT_EQ(QvGetConnectionState(d, &state, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(state, QV_STATE_INITIALISED);
  ASSERT_EQ(dllUnInitialize(), 1);
  EXPECT_EQ(QvDefaultSession(), nullptr);
}

TEST(SessionsBadInput, ASessionOutlivesTheDefaultOnesRelease) {
  LoopbackServer server;
  server.on(0, Script().expect(rec::make(105)).send(rec::make(105)));
  ASSERT_EQ(dllInitialize(), 1);
  QvSession *s = QvSessionCreate();
  ASSERT_EQ(dllUnInitialize(), 1);
  ASSERT_TRUE(connect(s, server.port()));
  EXPECT_EQ(QvHeartbeat(s), 1);
  EXPECT_EQ(Heartbeat(), 0);  // the default session is released
  EXPECT_EQ(server.problems(), "");
  QvSessionDestroy(s);
}

TEST(SessionsBadInput, ADestroyEndsACallBlockedOnTheSession) {
  LoopbackServer stalled;
  stalled.on(0, Script().expect(rec::kSize).stall());
  QvSession *s = QvSessionCreate();
  ASSERT_EQ(QvSetReadTimeout(s, 0), 1);  // only the destroy can end the read
  ASSERT_TRUE(connect(s, stalled.port()));
  std::future<std::string> blocked = std::async(std::launch::async, [s] {
    const std::string result = std::to_string(QvHeartbeat(s));
    return result + " " + outcome();
  });
  ASSERT_TRUE(stalled.wait_done(0));
  // A second call waits for the session behind the blocked one; the trace
  // shows when it has started.  The destroy ends both before it frees.
  char trace[] = "/tmp/qv-destroy-XXXXXX";
  const int fd = mkstemp(trace);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(TraceStart(trace, 0), 1);
  std::future<std::string> waiting = std::async(std::launch::async, [s] {
    const std::string result = std::to_string(QvHeartbeat(s));
    return result + " " + outcome();
  });
  // A connect queued behind them too: it must open nothing.
  std::future<std::string> connecting = std::async(std::launch::async, [s, &stalled] {
    const std::string result = std::to_string(connect(s, stalled.port()));
    return result + " " + outcome();
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(contains(read_file(trace), "call Heartbeat") &&
           contains(read_file(trace), "call TcpConnect")) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(contains(read_file(trace), "call TcpConnect"));
  EXPECT_EQ(QvSessionDestroy(s), 1);
  TraceStop();
  std::remove(trace);
  EXPECT_EQ(outcome(), "0/0/0/0/");
  EXPECT_EQ(blocked.get(), "0 6/1/0/10004/Disconnected by the host.");
  EXPECT_EQ(waiting.get(), "0 5/0/0/10004/Disconnected by the host.");
  EXPECT_EQ(connecting.get(), "0 4/0/0/10004/Disconnected by the host.");
  EXPECT_EQ(stalled.accepted(), 1u);
  // The handle is dead: a second destroy and any call are refused at once.
  EXPECT_EQ(QvSessionDestroy(s), 0);
  EXPECT_EQ(outcome(), std::string("1/0/1/0/") + kNotALiveSession);
  EXPECT_EQ(QvHeartbeat(s), 0);
  EXPECT_EQ(outcome(), std::string("1/0/1/0/") + kNotALiveSession);
}

size_t entries(const char *dir) {
  size_t n = 0;
  if (DIR *d = opendir(dir)) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// 10,000 sessions made and destroyed, a thousand alive at a time, then 64
// connected at once, each taking its own answer: afterwards the process has
// the descriptors and threads it had before (LeakSanitizer checks memory).
TEST(SessionsBadInput, ManySessionsLeaveNoDescriptorOrThread) {
  const size_t fds = entries("/proc/self/fd"), tasks = entries("/proc/self/task");
  for (int round = 0; round < 10; ++round) {
    std::vector<QvSession *> made;
    for (int i = 0; i < 1000; ++i) made.push_back(QvSessionCreate());
    for (QvSession *s : made) {
      ASSERT_NE(s, nullptr);
      QvSessionDestroy(s);
    }
  }
  {
    TaggingServer server(2000, "user", "pwd");
    std::vector<QvSession *> connected;
    for (int i = 0; i < 64; ++i) {
      connected.push_back(QvSessionCreate());
      ASSERT_TRUE(connect(connected.back(), server.port())) << "session " << i;
    }
    for (size_t i = 0; i < connected.size(); ++i) {
      const std::string tag = "many" + std::to_string(i);
      int32_t code = -1;
      char msg[QV_BODY_BUFFER_SIZE] = "", p1[QV_PARAM_BUFFER_SIZE] = "";
      EXPECT_EQ(QvMMSMaxSize(connected[i], &code, msg, p1, tag.c_str(), tag.c_str()), 1);
      EXPECT_EQ(std::string(p1), tag);
    }
    for (QvSession *s : connected) QvSessionDestroy(s);
  }
  EXPECT_EQ(entries("/proc/self/fd"), fds);
  EXPECT_EQ(entries("/proc/self/task"), tasks);
}

// The handle property: threads make, call, destroy and destroy again
// sessions at random, and call with made-up values (addresses of live,
// zeroed and freed memory, odd numbers).  Invariant: a call returns 1 only
// on a handle that was not destroyed when it began, with the answer to its
// own request; a destroyed or made-up handle is refused with Argument 1 and
// nothing written; a handle is destroyed once; nothing crashes or hangs.
TEST(SessionHandles, NoCallReturnsOneUnlessItsHandleIsLiveAndTheAnswerItsOwn) {
  const char *seed_text = std::getenv("QUORVEX_PROPERTY_SEED");
  const unsigned seed = seed_text ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10)) : 1;
  TaggingServer server(2000, "user", "pwd");
  struct Known {
    QvSession *handle;
    std::atomic<int> destroys{0};  // destroys that returned 1
  };
  std::mutex known_mutex;
  std::vector<std::shared_ptr<Known>> known;
  auto freed = std::make_unique<char[]>(64);
  const uintptr_t freed_address = reinterpret_cast<uintptr_t>(freed.get());
  freed.reset();
  const auto zeroed = std::make_unique<std::array<uintptr_t, 8>>();
  const std::vector<uintptr_t> made_up = {freed_address,
                                          reinterpret_cast<uintptr_t>(zeroed.get()),
                                          reinterpret_cast<uintptr_t>(&server),
                                          1,
                                          3,
                                          0x20001,
                                          ~uintptr_t{0},
                                          freed_address | 1};
  std::atomic<long> calls{0}, answered{0}, refused{0};
  std::vector<std::vector<std::string>> bad(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(seed * 31 + static_cast<unsigned>(t));
      auto pick = [&]() -> std::shared_ptr<Known> {
        const std::lock_guard<std::mutex> lock(known_mutex);
        if (known.empty()) return nullptr;
        return known[rng() % known.size()];
      };
      for (int i = 0; i < 120; ++i) {
        const unsigned op = rng() % 8;
        if (op < 2) {
          auto k = std::make_shared<Known>();
          k->handle = QvSessionCreate();
          if (!k->handle || !connect(k->handle, server.port())) bad[t].push_back("create");
          const std::lock_guard<std::mutex> lock(known_mutex);
          known.push_back(k);
        } else if (op < 4) {
          if (auto k = pick(); k && QvSessionDestroy(k->handle) == 1 && k->destroys++ > 0)
            bad[t].push_back("a handle destroyed twice");
        } else if (op < 7) {
          auto k = pick();
          if (!k) continue;
          const bool dead = k->destroys.load() > 0;
          const std::string tag = "t" + std::to_string(t) + "c" + std::to_string(i);
          int32_t code = 77;
          char msg[QV_BODY_BUFFER_SIZE] = "", p1[QV_PARAM_BUFFER_SIZE] = "";
          ++calls;
          const qv_bool r = QvMMSMaxSize(k->handle, &code, msg, p1, tag.c_str(), tag.c_str());
          if (r == 1) ++answered;
          if (r == 1 && p1 != tag) bad[t].push_back("answer " + std::string(p1) + " for " + tag);
          if (dead &&
              (r != 0 || code != 77 || outcome() != std::string("1/0/1/0/") + kNotALiveSession))
            bad[t].push_back("a destroyed handle was not refused: " + outcome());
        } else {
          auto *h = reinterpret_cast<QvSession *>(made_up[rng() % made_up.size()]);
          int32_t state = 77;
          ++refused;
          if (QvHeartbeat(h) != 0 || QvSessionDestroy(h) != 0 ||
              QvGetConnectionState(h, &state, nullptr, nullptr, nullptr) != 0 || state != 77 ||
              outcome() != std::string("1/0/1/0/") + kNotALiveSession)
            bad[t].push_back("a made-up handle was not refused: " + outcome());
        }
      }
    });
  }
  for (std::thread &th : threads) th.join();
  for (const auto &k : known) {
    if (k->destroys.load() == 0) {
      EXPECT_EQ(QvSessionDestroy(k->handle), 1);
    }
  }
  for (const auto &list : bad)
    for (const std::string &b : list) ADD_FAILURE() << b;
  std::printf("handles property: seed %u, %zu sessions, %ld calls, %ld answered, %ld made-up\n",
              seed, known.size(), calls.load(), answered.load(), refused.load());
}

// A thread's kept answer is its own even after it ends: a new thread, which
// the system may give the same id, never takes it.
TEST(SessionHandles, ANewThreadNeverTakesAnEndedThreadsLoginAnswer) {
  TaggingServer server(2000, "user", "pwd");
  QvSession *s = QvSessionCreate();
  ASSERT_TRUE(connect(s, server.port()));
  for (int round = 0; round < 3; ++round) {
    std::thread([s] { EXPECT_EQ(QvLogin_Request(s, "a", "b", "user", "pwd", "1"), 1); }).join();
    std::thread([s] {
      int32_t code = 77;
      char msg[QV_BODY_BUFFER_SIZE] = "mine", p[QV_PARAM_BUFFER_SIZE] = "";
      EXPECT_EQ(QvLogin_Feedback(s, &code, msg, p, p, p), 0);
      EXPECT_EQ(code, -1);
      EXPECT_STREQ(msg, "mine");
      EXPECT_EQ(outcome().substr(0, 6), "1/0/0/");
    }).join();
  }
  EXPECT_EQ(QvSessionDestroy(s), 1);
}

}  // namespace
}  // namespace qvtest
