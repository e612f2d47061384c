// The handover of a response record: a command's answer, read from a peer
// that replies with the fuzz bytes, copied into the caller's outputs.
//
// Input: one byte that picks the export, then the bytes the server sends.
// A reply shorter than a record ends in a close (the failure path and a
// relogin that is refused); one that holds further records feeds further
// calls of the same export on the same connection.  Every output buffer is
// allocated at exactly its documented size, so that a byte written past it
// is caught.
#include <quorvex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "heap_text.h"
#include "loopback_peer.h"

namespace {

using qvfuzz::HeapText;

constexpr size_t kRecordSize = 2116;

struct Outputs {
  int32_t code = 0;
  HeapText message{QV_BODY_BUFFER_SIZE};
  HeapText param[3] = {HeapText{QV_PARAM_BUFFER_SIZE}, HeapText{QV_PARAM_BUFFER_SIZE},
                       HeapText{QV_PARAM_BUFFER_SIZE}};
  int32_t number[3] = {};
};

// Calls one export with the outputs; true when it handed a response over.
using Export = qv_bool (*)(Outputs &);

// Exports with different shapes of handover: body and Params as texts,
// Params as numbers, Param1 in place of the body, error text appended,
// password saved on acceptance.
const Export kExports[] = {
    [](Outputs &o) {
      return Login_Feedback(&o.code, o.message.get(), o.param[0].get(), o.param[1].get(),
                            o.param[2].get());
    },
    [](Outputs &o) {
      return GetUdInfo(&o.code, o.message.get(), o.param[0].get(), o.param[1].get(),
                       o.param[2].get());
    },
    [](Outputs &o) { return MMSMaxSize(&o.code, o.message.get(), o.param[0].get(), "size", "KB"); },
    [](Outputs &o) {
      return FindAllSubsEx(&o.code, o.message.get(), &o.number[0], &o.number[1], &o.number[2]);
    },
    [](Outputs &o) {
      return SubmitAllOver_2(&o.code, o.message.get(), &o.number[0], &o.number[1], &o.number[2]);
    },
    [](Outputs &o) {
      return ContentPreview(&o.code, o.message.get(), &o.number[0], "p", "content");
    },
    [](Outputs &o) { return CheckSMSContent(&o.code, o.message.get(), "content", 1, 2, 0); },
    [](Outputs &o) { return CheckSMSContent(&o.code, o.message.get(), "content", 1, 2, 3); },
    [](Outputs &o) {
      return AddSubGwNumEx(&o.code, o.message.get(), o.param[0].get(), o.param[1].get(), "106");
    },
    [](Outputs &o) { return DelSubGwNum(&o.code, o.message.get(), o.param[0].get(), "106"); },
    [](Outputs &o) { return EditPassword(&o.code, o.message.get(), "new", "new"); },
    [](Outputs &o) { return CltAllPrdIdName(&o.code, o.message.get()); },
    [](Outputs &o) { return SubmitAllOver(&o.code, o.message.get()); },
    [](Outputs &o) {
      return GetSJKHDParams(&o.code, o.message.get(), o.param[0].get(), o.param[1].get(),
                            o.param[2].get());
    },
    [](Outputs &o) { return MsgStates(&o.code, o.message.get()); },
};
constexpr size_t kExportCount = sizeof kExports / sizeof kExports[0];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return qvfuzz::initialise_library(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // One selector value more than the table: the heartbeat, which hands
  // nothing over.
  const size_t pick = data[0] % (kExportCount + 1);
  const std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);

  qvfuzz::LoopbackPeer &peer = qvfuzz::LoopbackPeer::get();
  peer.arm(reply);
  HeapText connected(QV_BODY_BUFFER_SIZE);
  if (TcpConnect(connected.get(), "127.0.0.1", peer.port(), 2000, "", "", 0, "", "") != 1)
    __builtin_trap();
  // Saves the texts that a relogin sends; the peer ignores what it reads.
  Login_Request("app", "extra", "name", "pwd", "1.0");

  const size_t calls = reply.size() / kRecordSize > 1 ? reply.size() / kRecordSize : 1;
  for (size_t i = 0; i < calls && i < 4; ++i) {
    if (pick == kExportCount) {
      if (!Heartbeat()) break;
      continue;
    }
    Outputs out;
    if (!kExports[pick](out)) break;
    if (!out.message.terminated()) __builtin_trap();
  }
  TcpDisconnect();
  return 0;
}
