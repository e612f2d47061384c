// HTTP proxy replies: TcpConnect or fxTcpConnect through an HTTP proxy whose
// answer to CONNECT is the fuzz bytes.  When the tunnel opens, the bytes
// after the proxy's empty line are the server's, and one exchange of the
// connect's protocol reads them.
//
// Input: one byte whose lowest bit picks the record protocol (0) or the XML
// protocol (1), then the proxy's bytes.
#include <quorvex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "heap_text.h"
#include "loopback_peer.h"

namespace {

using qvfuzz::HeapText;

void record_exchange() {
  int32_t code = 0;
  HeapText body(QV_BODY_BUFFER_SIZE), p1(QV_PARAM_BUFFER_SIZE), p2(QV_PARAM_BUFFER_SIZE),
      p3(QV_PARAM_BUFFER_SIZE);
  GetUdInfo(&code, body.get(), p1.get(), p2.get(), p3.get());
}

void xml_exchange(size_t bytes_sent) {
  int32_t code = 0, length = 0;
  if (fxNotify_Req(&code, &length) != 1) return;
  HeapText message(qvfuzz::reply_buffer_size(length, bytes_sent));
  fxNotify_Resp(message.get(), code, length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return qvfuzz::initialise_library(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const bool xml = data[0] & 1;
  qvfuzz::LoopbackPeer &proxy = qvfuzz::LoopbackPeer::get();
  proxy.arm(std::string(reinterpret_cast<const char *>(data + 1), size - 1));

  HeapText message(QV_BODY_BUFFER_SIZE);
  const auto connect = xml ? fxTcpConnect : TcpConnect;
  if (connect(message.get(), "127.0.0.1", 9, 2000, "http", "127.0.0.1", proxy.port(), "", "") ==
      1) {
    if (xml)
      xml_exchange(size);
    else
      record_exchange();
  }
  if (!message.terminated()) __builtin_trap();
  TcpDisconnect();
  return 0;
}
