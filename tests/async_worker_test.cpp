// A session's serial worker: tasks posted from several threads run one at
// a time, each producer's in the order it posted them, every one exactly
// once; a stop drops what has not started (handing each back) and waits
// for what runs; nothing runs after it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "async/serial_worker.h"

namespace {

constexpr auto kPosted = qv::async::SerialWorker::Posted::Yes;

TEST(SerialWorker, TasksRunOneAtATimeInOrderOnceEach) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    qv::async::SerialWorker worker;
    constexpr int kProducers = 3, kEach = 300;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::mutex mutex;
    std::vector<std::vector<int>> ran(kProducers);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
      producers.emplace_back([&, p] {
        std::mt19937 random(seed * 10 + static_cast<unsigned>(p));
        for (int i = 0; i < kEach; ++i) {
          // Now and then the worker runs dry, so that its thread ends and
          // the next post starts another.
          if (random() % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          ASSERT_EQ(worker.post([&, p, i] {
            if (inside.fetch_add(1) != 0) overlapped = true;
            {
              const std::lock_guard<std::mutex> lock(mutex);
              ran[p].push_back(i);
            }
            inside.fetch_sub(1);
          }),
                    kPosted);
        }
      });
    for (std::thread &t : producers) t.join();
    worker.wait_idle();
    worker.stop();
    EXPECT_FALSE(overlapped.load());
    for (int p = 0; p < kProducers; ++p) {
      ASSERT_EQ(ran[p].size(), static_cast<size_t>(kEach)) << "seed " << seed;
      for (int i = 0; i < kEach; ++i) EXPECT_EQ(ran[p][i], i);
    }
  }
}

TEST(SerialWorker, StopDropsWhatHasNotStartedAndWaitsForWhatRuns) {
  qv::async::SerialWorker worker;
  std::atomic<bool> release{false}, started{false}, finished{false};
  ASSERT_EQ(worker.post([&] {
    started = true;
    while (!release) std::this_thread::yield();
    finished = true;
  }),
            kPosted);
  while (!started) std::this_thread::yield();
  std::atomic<int> ran_after{0};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(worker.post([&] { ++ran_after; }), kPosted);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release = true;
  });
  int dropped = 0;
  worker.stop([&](qv::async::SerialWorker::Task &) { ++dropped; });
  releaser.join();
  EXPECT_TRUE(finished.load());  // stop waited for the running task
  EXPECT_EQ(dropped, 3);
  EXPECT_EQ(ran_after.load(), 0);
  EXPECT_EQ(worker.post([&] { ++ran_after; }), qv::async::SerialWorker::Posted::Stopping);
  EXPECT_FALSE(worker.busy());
}

}  // namespace
