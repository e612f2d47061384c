// The far end of the connections of the fuzz targets that drive the
// library's exports: one loopback listener and a thread that serves its
// connections one after the other.
//
// Each run arms the peer with the bytes it is to send.  The first
// connection after that receives them at once; then the peer shuts its
// sending side (so that a short reply ends in a close, never in a wait) and
// reads whatever the library sends until the library closes.  Any further
// connection before the next arm (a relogin's reconnect) is reset at once,
// so the relogin fails fast.  The library makes one call at a time, so a
// connection is always over before the next one of the same run opens.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace qvfuzz {

class LoopbackPeer {
 public:
  // The process's one peer, started on first use.
  static LoopbackPeer &get();

  int32_t port() const { return port_; }
  // The bytes for the next connection.
  void arm(std::string reply);

 private:
  LoopbackPeer();
  void serve();
  std::optional<std::string> take_reply();

  int listener_ = -1;
  int32_t port_ = 0;
  std::mutex mutex_;
  std::optional<std::string> reply_;
};

// Initialises the library for a target that drives it against the peer.
// Every reply ends in a close, so the read time-out set here only guards
// against a bug.  Returns 0, for LLVMFuzzerInitialize.
int initialise_library();

}  // namespace qvfuzz
