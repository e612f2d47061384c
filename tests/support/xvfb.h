// An X server of the test process's own (Xvfb on a display number it picks
// itself), for tests of windows.
#pragma once

#include <sys/types.h>

#include <string>

namespace qvtest {

class Xvfb {
 public:
  Xvfb() = default;
  ~Xvfb() { stop(); }
  Xvfb(const Xvfb &) = delete;
  Xvfb &operator=(const Xvfb &) = delete;

  // Starts the server and waits until it accepts clients; false where Xvfb
  // is missing or fails to start.
  bool start();
  void stop();

  bool running() const { return pid_ > 0; }
  // ":N", empty when not running.
  const std::string &display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

}  // namespace qvtest
