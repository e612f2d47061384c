// quorvex_journal_bench: what the journal costs a host that sends jobs,
// beside its floor, the same jobs sent without it (QvSendJob), in the same
// run through the public header, against the simulator answering each
// request after DELAY ms (5 by default: a server across a network):
//  - jobs per second, each job added to the journal and sent from it
//    (three commits: the add, SENDING before the submit, the end) against
//    each job sent straight away; both take the evidence around the submit;
//  - the time of one commit on this machine's disk (an add), p50 and p99,
//    with the journal in DIR (the current directory by default, since /tmp
//    may be a memory file system).
//
//   quorvex_journal_bench [ROUNDS [JOBS [DELAY [DIR]]]]
// Rounds alternate which side goes first; the ratio is the median of the
// rounds' journal/floor.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "median.h"
#include "quorvex.h"
#include "simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

QvJob *make_job(long n) {
  QvJob *job = QvJobCreate();
  const std::string number = "139" + std::to_string(10000000 + n);
  QvJobSetText(job, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK);
  QvJobSetText(job, QV_JOB_CONTENT, "The meeting moves to three o'clock.", -1, QV_TEXT_GBK);
  QvJobAddNumber(job, number.c_str());
  QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1);
  return job;
}

void fail(const char *what) {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail, sizeof detail);
  std::fprintf(stderr, "%s: %s\n", what, detail);
  std::exit(1);
}

long g_next = 0;  // every job goes to a number of its own

// Jobs per second sent straight away.
double plain(QvSession *s, int jobs) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < jobs; ++i) {
    QvJob *job = make_job(g_next++);
    if (!QvSendJob(s, job, 2)) fail("QvSendJob");
    QvJobDestroy(job);
  }
  return jobs / seconds_since(start);
}

// Jobs per second added to the journal and sent from it.
double journaled(QvSession *s, QvJournal *j, int jobs) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < jobs; ++i) {
    QvJob *job = make_job(g_next);
    if (QvJournalAdd(j, job, ("bench-" + std::to_string(g_next++)).c_str()) == 0)
      fail("QvJournalAdd");
    QvJobDestroy(job);
    int32_t settled = 0;
    if (!QvJournalSend(s, j, 1, &settled) || settled != 1) fail("QvJournalSend");
  }
  return jobs / seconds_since(start);
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int jobs = argc > 2 ? std::atoi(argv[2]) : 20;
  const int delay = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::filesystem::path dir = argc > 4 ? argv[4] : std::filesystem::current_path();
  const std::string file = (dir / ("bench-" + std::to_string(::getpid()) + ".journal")).string();

  qv::sim::Options options;
  options.delay = std::chrono::milliseconds(delay);
  qv::sim::Simulator sim(options);
  const uint16_t port = sim.start(0);
  QvSession *s = QvSessionCreate();
  char msg[QV_BODY_BUFFER_SIZE] = {}, p[3][QV_PARAM_BUFFER_SIZE] = {};
  int32_t code = -1;
  if (!QvTcpConnect(s, msg, "127.0.0.1", port, 5000, "", "", 0, "", "") ||
      !QvLogin_Request(s, "bench", "", "demo", "demo123", "1.0") ||
      !QvLogin_Feedback(s, &code, msg, p[0], p[1], p[2]))
    fail("login");
  QvJournal *j = QvJournalOpen(file.c_str());
  if (!j) fail("QvJournalOpen");

  std::vector<double> plain_rates, journal_rates, ratios;
  for (int r = 0; r < rounds; ++r) {
    double a = 0, b = 0;
    if (r % 2 == 0) {
      a = plain(s, jobs);
      b = journaled(s, j, jobs);
    } else {
      b = journaled(s, j, jobs);
      a = plain(s, jobs);
    }
    plain_rates.push_back(a);
    journal_rates.push_back(b);
    ratios.push_back(b / a);
  }
  std::printf(
      "jobs/s at a %d ms server, %d rounds of %d jobs: journal %.1f, without %.1f, "
      "ratio %.2f\n",
      delay, rounds, jobs, median_of(journal_rates), median_of(plain_rates), median_of(ratios));

  // One commit on this disk: an add, timed alone.
  std::vector<double> commits;
  for (int i = 0; i < 300; ++i) {
    QvJob *job = make_job(g_next);
    const Clock::time_point start = Clock::now();
    if (QvJournalAdd(j, job, ("commit-" + std::to_string(g_next++)).c_str()) == 0)
      fail("QvJournalAdd");
    commits.push_back(seconds_since(start) * 1e3);
    QvJobDestroy(job);
  }
  std::printf("a commit (an add) on %s: p50 %.2f ms, p99 %.2f ms (%zu adds)\n",
              dir.string().c_str(), percentile(commits, 0.5), percentile(commits, 0.99),
              commits.size());
  QvJournalClose(j);
  QvSessionDestroy(s);
  for (const char *suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file + suffix);
  return 0;
}
