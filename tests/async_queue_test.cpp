// The queue of completions: its wait handle is readable exactly while it
// holds a completion, whatever the order of pushes, takes and closes, and
// every completion pushed from several threads is taken exactly once.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "async/queue.h"

namespace {

struct Numbered : qv::async::Completion {
  explicit Numbered(int n) : number(n) {}
  int number;
};

bool readable(int64_t handle) {
  pollfd p{static_cast<int>(handle), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

TEST(AsyncQueue, HandleIsReadableExactlyWhileACompletionWaits) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto queue = std::make_unique<qv::async::Queue>();
    int pushed = 0, taken = 0;
    for (int step = 0; step < 500; ++step) {
      ASSERT_TRUE(queue->ok());
      const unsigned what = random() % 20;
      if (what < 10) {
        EXPECT_TRUE(queue->push(std::make_shared<Numbered>(pushed++)));
      } else if (what < 19) {
        const auto got = queue->next(0);
        if (got)
          EXPECT_EQ(static_cast<Numbered &>(*got).number, taken++);  // oldest first
        else
          EXPECT_EQ(pushed, taken);  // none waits only when all were taken
      } else {
        // Closed, a queue takes nothing more and hands nothing out; the
        // host makes another.
        queue->close();
        EXPECT_FALSE(readable(queue->wait_handle()));
        EXPECT_FALSE(queue->push(std::make_shared<Numbered>(-1)));
        EXPECT_EQ(queue->next(0), nullptr);
        queue = std::make_unique<qv::async::Queue>();
        pushed = taken = 0;
      }
      ASSERT_EQ(readable(queue->wait_handle()), queue->size() > 0) << "step " << step;
    }
  }
}

TEST(AsyncQueue, CompletionsFromManyThreadsAreTakenOnceEach) {
  qv::async::Queue queue;
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) queue.push(std::make_shared<Numbered>(t * kEach + i));
    });
  std::set<int> seen;
  while (seen.size() < kThreads * kEach) {
    const auto got = queue.next(-1);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(seen.insert(static_cast<Numbered &>(*got).number).second);
  }
  for (std::thread &t : producers) t.join();
  EXPECT_FALSE(readable(queue.wait_handle()));
  EXPECT_EQ(queue.next(10), nullptr);  // a bounded wait with nothing to take
}

TEST(AsyncQueue, CloseWakesAWaiter) {
  qv::async::Queue queue;
  std::thread waiter([&] { EXPECT_EQ(queue.next(-1), nullptr); });
  queue.close();
  waiter.join();
}

}  // namespace
