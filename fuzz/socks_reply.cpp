// SOCKS proxy replies: TcpConnect through a SOCKS4 or SOCKS5 proxy whose
// replies are the fuzz bytes.  When the handshake succeeds, the bytes after
// it are the server's: one record exchange reads them through the tunnel,
// so that a handshake that reads too few or too many bytes shows up there.
//
// Input: one byte whose lowest bit picks SOCKS4 (0) or SOCKS5 (1), then the
// proxy's bytes.
#include <quorvex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "heap_text.h"
#include "loopback_peer.h"

namespace {

using qvfuzz::HeapText;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return qvfuzz::initialise_library(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const char *kind = (data[0] & 1) ? "socks5" : "socks4";
  qvfuzz::LoopbackPeer &proxy = qvfuzz::LoopbackPeer::get();
  proxy.arm(std::string(reinterpret_cast<const char *>(data + 1), size - 1));

  HeapText message(QV_BODY_BUFFER_SIZE);
  if (TcpConnect(message.get(), "127.0.0.1", 9, 2000, kind, "127.0.0.1", proxy.port(), "user",
                 "pass") == 1) {
    int32_t code = 0;
    HeapText body(QV_BODY_BUFFER_SIZE), p1(QV_PARAM_BUFFER_SIZE), p2(QV_PARAM_BUFFER_SIZE),
        p3(QV_PARAM_BUFFER_SIZE);
    GetUdInfo(&code, body.get(), p1.get(), p2.get(), p3.get());
  }
  if (!message.terminated()) __builtin_trap();
  TcpDisconnect();
  return 0;
}
