// `quorvex load`: N sessions on N threads (or, with --async, from one
// thread through one queue of operations), each logged in with an account
// of its own, doing heartbeats or whole send jobs against the embedded
// simulator for a number of seconds, with a progress line per second and a
// summary of the rate, the latency and the failures by outcome.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace qv::cli {

struct LoadOptions {
  int sessions = 1;
  int seconds = 5;
  bool job = false;                    // whole send jobs instead of heartbeats
  bool async = false;                  // from one thread through a queue, not a thread each
  std::chrono::milliseconds delay{0};  // the simulator's wait before each answer
  int drop_after = 0;  // the simulator closes each connection after so many answers; 0: never
};

// The usage of the load command, one line.
extern const char *const kLoadUsage;

// Reads the words after "load".  Throws StepError on a mistake.
LoadOptions parse_load_options(const std::vector<std::string> &words);

// Runs the load and prints its progress and summary.  Returns 0 when no
// call failed and every job was accepted, 1 otherwise (a session that could
// not connect or log in included).
int run_load(const LoadOptions &options, std::ostream &out);

}  // namespace qv::cli
