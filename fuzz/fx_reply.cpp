// XML replies through the response exports: a peer answers an XML request
// with a reply whose body is the fuzz bytes, and the matching _Resp export
// reads it into buffers sized as the interface tells a host to size them:
// the reply length plus one byte, and never less than the longest fixed
// message.
//
// Input: one byte that picks the operation (low bits), the reply code
// (bit 7: anything but success) and whether the header claims more bytes
// than follow (bit 6); then the body.
#include <quorvex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "heap_text.h"
#include "loopback_peer.h"

namespace {

using qvfuzz::HeapText;

std::string le32(int32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
  return out;
}

using Request = qv_bool (*)(int32_t *, int32_t *);
using Response = qv_bool (*)(char *, int32_t, int32_t);
struct Query {
  Request request;
  Response response;
};
const Query kQueries[] = {
    {fxMsgStates_Req, fxMsgStates_Resp},
    {fxInfoType_Req, fxInfoType_Resp},
    {fxNumRule_Req, fxNumRule_Resp},
    {fxNotify_Req, fxNotify_Resp},
};
constexpr size_t kOperations = 1 + sizeof kQueries / sizeof kQueries[0];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return qvfuzz::initialise_library(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size - 1 > static_cast<size_t>(INT32_MAX) - 64) return 0;
  const size_t operation = (data[0] & 0x3f) % kOperations;
  const int32_t code = (data[0] & 0x80) ? 20901 : QV_FX_SUCCESS;
  const std::string body(reinterpret_cast<const char *>(data + 1), size - 1);
  const auto claimed = static_cast<int32_t>(body.size() + ((data[0] & 0x40) ? 7 : 0));
  const std::string reply = le32(code) + le32(1) + le32(1) + le32(claimed) + body;

  qvfuzz::LoopbackPeer &peer = qvfuzz::LoopbackPeer::get();
  peer.arm(reply);
  HeapText connected(QV_BODY_BUFFER_SIZE);
  if (fxTcpConnect(connected.get(), "127.0.0.1", peer.port(), 2000, "", "", 0, "", "") != 1)
    __builtin_trap();

  int32_t reply_code = 0, reply_length = 0;
  if (operation == 0) {
    if (fxLogin_Req(&reply_code, &reply_length, "app", "extra", "name", "pwd", "1.0") == 1) {
      const size_t buffer = qvfuzz::reply_buffer_size(reply_length, body.size());
      HeapText message(buffer), pud(buffer);
      int32_t agent = 0, agreement = 0;
      fxLogin_Resp(message.get(), &agent, pud.get(), &agreement, reply_code, reply_length);
    }
  } else {
    const Query &q = kQueries[operation - 1];
    if (q.request(&reply_code, &reply_length) == 1) {
      HeapText message(qvfuzz::reply_buffer_size(reply_length, body.size()));
      q.response(message.get(), reply_code, reply_length);
    }
  }
  fxTcpDisconnect();
  return 0;
}
