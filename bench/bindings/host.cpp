// The C++ interface's host of the bindings benchmark: quorvex::Session's
// Heartbeat in a loop.  host PORT CALLS ROUNDS prints the median of the
// rounds' time per call, in nanoseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "quorvex.hpp"

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  const int port = std::atoi(argv[1]), calls = std::atoi(argv[2]), rounds = std::atoi(argv[3]);
  quorvex::Session session;
  if (!session.connect("127.0.0.1", port)) return 1;
  for (int i = 0; i < calls; i++) (void)session.Heartbeat();  // warm-up
  std::vector<double> times;
  for (int r = 0; r < rounds; r++) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; i++)
      if (!session.Heartbeat()) return 1;
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    times.push_back(spent.count() / calls);
  }
  std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
  std::printf("%.1f\n", times[rounds / 2]);
}
