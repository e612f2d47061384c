// Two sessions share nothing on the path of an exchange: one blocked in a
// read holds neither the other's call lock nor its connection, and a
// disconnect requested on one ends only that one's wait.
#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "connection/connect.h"
#include "connection/session.h"
#include "loopback_server.h"
#include "record/exchange.h"
#include "record/login.h"
#include "record_bytes.h"

namespace {

using namespace qvtest;
using qv::connection::Session;

bool connect(Session &s, uint16_t port) {
  char message[128];
  qv::connection::ConnectionSettings direct;
  direct.host = "127.0.0.1";
  direct.port = port;
  direct.timeout = 5000;
  return s.initialize() && qv::connection::connect(s, qv::connection::Protocol::Record,
                                                   {message, sizeof message}, direct);
}

// A heartbeat as an export runs it: under the session's call lock.
bool heartbeat(Session &s) {
  std::lock_guard<qv::connection::CallLock> lock(s.call_lock);
  return qv::record::execute(s, qv::record::kHeartbeat, {});
}

TEST(Sessions, OneBlockedSessionNeitherHoldsNorEndsAnother) {
  LoopbackServer stalled, answering;
  stalled.on(0, Script().expect(rec::kSize).stall());
  answering.on(
      0, Script().expect(rec::kSize).send(rec::make(105)).expect(rec::kSize).send(rec::make(105)));
  Session a, b;
  a.waits.set_read_timeout_ms(0);  // only the interrupt can end a's read
  ASSERT_TRUE(connect(a, stalled.port()));
  ASSERT_TRUE(connect(b, answering.port()));

  std::future<bool> blocked = std::async(std::launch::async, [&] { return heartbeat(a); });
  ASSERT_TRUE(stalled.wait_done(0));  // a's request is out; a waits for its answer
  EXPECT_TRUE(heartbeat(b));
  EXPECT_EQ(b.waits.read_timeout_ms(), 60000);

  // A cross-thread disconnect of a, as TcpDisconnect runs it: a's read ends,
  // and b's exchange while it is pending goes through.
  a.waits.request_interrupt();
  EXPECT_FALSE(blocked.get());
  EXPECT_TRUE(heartbeat(b));
  {
    std::lock_guard<qv::connection::CallLock> lock(a.call_lock);
    a.disconnect();
  }
  a.waits.end_interrupt();
  EXPECT_FALSE(a.tcp_client->connected());
  EXPECT_TRUE(b.tcp_client->connected());
  EXPECT_EQ(answering.problems(), "");
  a.release();
  b.release();
}

}  // namespace
