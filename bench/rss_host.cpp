// quorvex_rss_host: the resident memory of a host process after it has
// initialised the library, connected and logged in, against an in-process
// record responder.  "--baseline" runs the same program without the three
// library calls: the library is loaded and the responder runs all the same,
// so the difference is what those calls cost.
//
// Prints two lines, "rss_before_kib N" and "rss_after_kib N", from VmRSS in
// /proc/self/status.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "loopback.h"
#include "quorvex.h"

namespace {

long vm_rss_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

bool initialise_connect_login(uint16_t port) {
  char message[QV_BODY_BUFFER_SIZE] = {};
  char p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE], p3[QV_PARAM_BUFFER_SIZE];
  int32_t code = -1;
  if (!dllInitialize()) return false;
  if (!TcpConnect(message, "127.0.0.1", port, 5000, "", "", 0, "", "")) {
    std::fprintf(stderr, "TcpConnect failed: %s\n", message);
    return false;
  }
  return Login_Request("rss-host", "", "demo", "demo123", "1.0") &&
         Login_Feedback(&code, message, p1, p2, p3) && code == QV_CODE_ACCEPTED;
}

}  // namespace

int main(int argc, char **argv) {
  const bool baseline = argc > 1 && std::strcmp(argv[1], "--baseline") == 0;
  qvbench::LoopbackResponder responder;

  const long before = vm_rss_kib();
  if (!baseline && !initialise_connect_login(responder.port())) {
    std::fprintf(stderr, "initialise, connect and login failed\n");
    return 1;
  }
  const long after = vm_rss_kib();
  std::printf("rss_before_kib %ld\nrss_after_kib %ld\n", before, after);

  if (!baseline) {
    TcpDisconnect();
    dllUnInitialize();
  }
  return 0;
}
