#include "xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace qvtest {

bool Xvfb::start() {
  if (running()) return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  const std::string fd = std::to_string(fds[1]);
  std::vector<std::string> args = {"Xvfb", "-displayfd",  fd,          "-screen",
                                   "0",    "1024x768x24", "-nolisten", "tcp"};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    pid_ = 0;
    close(fds[0]);
    return false;
  }
  // Xvfb writes its display number once it accepts clients.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    stop();
    return false;
  }
  display_ = ":" + number;
  return true;
}

void Xvfb::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
  display_.clear();
}

}  // namespace qvtest
