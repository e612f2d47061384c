// The journal through power cuts and a failing disk, through the public
// header: a seeded run adds jobs and sends them to the simulator while the
// disk under the journal fails within a few writes or loses every write
// not yet synced (a power cut: the journal is closed, the disk keeps what
// its last syncs made stable, the journal is opened and recovered).  At
// the end everything is sent, and the simulator's own account of what it
// applied is held against the journal: nothing applied twice, nothing
// acknowledged lost, every job in one final state.
#include <quorvex.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "lossy_vfs.h"
#include "sim_resolver.h"
#include "sim_session.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;

std::string detail() {
  char text[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, text, sizeof text);
  return text;
}

unsigned long setting(const char *name, unsigned long fallback) {
  const char *v = std::getenv(name);
  return v ? std::strtoul(v, nullptr, 10) : fallback;
}

struct Applied {
  std::mutex mutex;
  std::map<std::string, std::vector<std::string>> by_number;  // first number -> jobs
};

TEST(JournalPower, NothingSentTwiceNothingLostAcrossCutsAndAFailingDisk) {
  qvtest::LossyVfs disk("lossy-default", true);
  Applied applied;
  qv::sim::Options options;
  options.applied = [&](std::string_view job, std::string_view first) {
    const std::lock_guard<std::mutex> lock(applied.mutex);
    applied.by_number[std::string(first)].emplace_back(job);
  };
  qv::sim::Simulator sim(options);
  const uint16_t port = sim.start(0);
  QvSession *s = qvtest::demo_session(port);
  ASSERT_TRUE(s) << detail();

  const fs::path dir = fs::temp_directory_path() / ("qv-power-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "power.journal").string();
  const auto open = [&] {
    QvJournal *j = QvJournalOpen(file.c_str());
    if (j) QvJournalSetResolver(j, qv::cli::simulator_resolver, nullptr);
    return j;
  };
  QvJournal *j = open();
  ASSERT_TRUE(j) << detail();

  const unsigned long seed = setting("QUORVEX_PROPERTY_SEED", 1);
  const unsigned long steps = setting("QUORVEX_PROPERTY_ROUNDS", 1) * 150;
  std::mt19937 rng(static_cast<unsigned>(seed));
  std::map<std::string, int64_t> acknowledged;  // first number -> id
  long cuts = 0, refused_adds = 0, failed_sends = 0, jobs = 0, looked_up = 0;
  for (unsigned long step = 0; step < steps; ++step) {
    const unsigned dice = rng() % 100;
    if (dice < 10) {
      disk.fail_after(static_cast<long>(rng() % 6));  // fills within a few writes
    } else if (dice < 14) {
      disk.fail_after(-1);  // room again
    } else if (dice < 24) {
      // The power goes at a write of a send, the journal's process with it.
      disk.fail_after(static_cast<long>(rng() % 8));
      int32_t settled = 0;
      QvJournalSend(s, j, 1, &settled);
      QvJournalClose(j);
      disk.fail_after(-1);
      disk.cut_power();
      ++cuts;
      j = open();
      ASSERT_TRUE(j) << "after cut " << cuts << ": " << detail();
      int32_t resolved = 0;
      QvJournalRecover(j, s, &resolved);
      looked_up += resolved;
    } else if (dice < 60) {
      const std::string number = "139" + std::to_string(10000000 + jobs++);
      QvJob *job = QvJobCreate();
      ASSERT_TRUE(QvJobSetText(job, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
                  QvJobSetText(job, QV_JOB_CONTENT, "hello", -1, QV_TEXT_GBK) &&
                  QvJobAddNumber(job, number.c_str()) &&
                  QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1));
      const int64_t id = QvJournalAdd(j, job, number.c_str());
      QvJobDestroy(job);
      if (id > 0) {
        acknowledged[number] = id;
      } else {
        ++refused_adds;
      }
    } else {
      int32_t settled = 0;
      if (!QvJournalSend(s, j, 1 + static_cast<int32_t>(rng() % 3), &settled)) ++failed_sends;
    }
  }
  // Power stays on: everything is recovered and sent, a job that failed
  // (not submitted) queued again, as a host would.
  disk.fail_after(-1);
  for (int round = 0; round < 5; ++round) {
    int32_t resolved = 0, settled = 0;
    ASSERT_TRUE(QvJournalRecover(j, s, &resolved)) << detail();
    ASSERT_TRUE(QvJournalSend(s, j, 0, &settled)) << detail();
    std::vector<int64_t> failed(64);
    const int32_t n = QvJournalList(j, QV_JOURNAL_FAILED, failed.data(), 64);
    for (int32_t i = 0; i < n && i < 64; ++i) QvJournalResolve(j, failed[i], QV_JOURNAL_QUEUED, "");
    if (n == 0) break;
  }

  std::vector<int64_t> all(static_cast<size_t>(QvJournalList(j, 0, nullptr, 0)));
  ASSERT_EQ(QvJournalList(j, 0, all.data(), static_cast<int32_t>(all.size())),
            static_cast<int32_t>(all.size()));
  std::map<std::string, int64_t> held;
  long submitted = 0;
  const std::lock_guard<std::mutex> lock(applied.mutex);
  for (const int64_t id : all) {
    int32_t state = 0;
    char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE], number[QV_PARAM_BUFFER_SIZE];
    ASSERT_TRUE(QvJournalJob(j, id, &state, reference, nullptr, nullptr, nullptr, number, nullptr,
                             nullptr));
    held[reference] = id;
    const std::vector<std::string> &times = applied.by_number[reference];
    if (state == QV_JOURNAL_SUBMITTED) {
      ++submitted;
      ASSERT_EQ(times.size(), 1U) << reference << " submitted";
      if (*number) {
        EXPECT_EQ(times[0], number) << reference;
      }
    } else {
      EXPECT_TRUE(state == QV_JOURNAL_REFUSED || state == QV_JOURNAL_FAILED)
          << reference << " left in state " << state;
      EXPECT_TRUE(times.empty()) << reference << " in state " << state << " was applied";
    }
  }
  for (const auto &[number, id] : acknowledged) EXPECT_EQ(held[number], id) << number << " lost";
  for (const auto &[number, jobs_applied] : applied.by_number)
    EXPECT_TRUE(jobs_applied.empty() || held.count(number)) << number << " applied, not held";
  std::printf(
      "[journal power] seed %lu: %zu adds acknowledged, %ld refused by the disk, %ld power "
      "cuts, %ld sends stopped by the disk, %ld settled by a look-up after a cut; %zu jobs "
      "held, %ld submitted, each applied once\n",
      seed, acknowledged.size(), refused_adds, cuts, failed_sends, looked_up, held.size(),
      submitted);
  EXPECT_GT(cuts, 5);
  QvJournalClose(j);
  QvSessionDestroy(s);
  fs::remove_all(dir);
}

}  // namespace
