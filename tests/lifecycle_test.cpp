// Creating and releasing the library's objects, disconnecting, and the state
// that outlives a release.
#include "quorvex_fixture.h"
#include "record_commands.h"

namespace qvtest {
namespace {

// These tests initialise the library themselves.
using Lifecycle = ServerTest;

TEST_F(Lifecycle, ReleaseWithoutInitialisationSucceeds) {
  EXPECT_EQ(1, dllUnInitialize());
  EXPECT_EQ(1, TcpRelease());
}

TEST_F(Lifecycle, DisconnectOutsideInitialisationFails) {
  EXPECT_EQ(0, TcpDisconnect());
  EXPECT_EQ(0, fxTcpDisconnect());
  ASSERT_EQ(1, dllInitialize());
  ASSERT_EQ(1, dllUnInitialize());
  EXPECT_EQ(0, TcpDisconnect());
  EXPECT_EQ(0, fxTcpDisconnect());
}

TEST_F(Lifecycle, DisconnectWhenNeverConnectedSucceeds) {
  ASSERT_EQ(1, TcpInit());
  EXPECT_EQ(1, TcpDisconnect());
  EXPECT_EQ(1, fxTcpDisconnect());
}

TEST_F(Lifecycle, DisconnectClosesTheConnection) {
  ASSERT_EQ(1, dllInitialize());
  connect_direct();
  EXPECT_EQ(1, fxTcpDisconnect());
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_EQ(1, TcpDisconnect());
}

// A second initialisation must not replace the connected client, and one
// release undoes both (the twins may be mixed).
TEST_F(Lifecycle, SecondInitialisationKeepsTheConnection) {
  server.on(0, Script().expect(kHeartbeat).send(kAccepted));
  ASSERT_EQ(1, dllInitialize());
  connect_direct();
  ASSERT_EQ(1, TcpInit());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1, TcpRelease());
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_EQ(0, TcpDisconnect());
}

// Had a connect before initialisation opened anything, the heartbeat would
// not reach the first connection's script.
TEST_F(Lifecycle, ConnectBeforeInitialisationOpensNothing) {
  server.on(0, Script().expect(kHeartbeat).send(kAccepted));
  MessageBuffer message;
  EXPECT_EQ(0, TcpConnect(message.get(), "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  EXPECT_EQ(0, fxTcpConnect(message.get(), "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  ASSERT_EQ(1, dllInitialize());
  connect_direct();
  EXPECT_EQ(1, Heartbeat());
}

// Before initialisation a command fails in its own exchange and takes the
// failure path; it must not crash.
TEST_F(Lifecycle, CommandsBeforeInitialisationTakeTheFailurePath) {
  EXPECT_EQ(0, Heartbeat());
  EXPECT_EQ(0, ReLogin());
  Outputs info;
  EXPECT_EQ(0, InfoType(&info.code, info.message.get()));
  EXPECT_EQ(-1, info.code);
  EXPECT_EQ(gbk("查询服务器端的信息细分类型失败!"), info.message.text());
  Outputs states;
  EXPECT_EQ(0, MsgStates(&states.code, states.message.get()));
  EXPECT_EQ(-1, states.code);
  EXPECT_TRUE(states.message.untouched());
  EXPECT_EQ(0, Login_Request("a", "b", "c", "d", "e"));
}

TEST_F(Lifecycle, ConnectionAndLoginSurviveReleaseForReLogin) {
  server.on(0, logged_in());
  server.on(1, logged_in());
  ASSERT_EQ(1, dllInitialize());
  connect_and_login();
  ASSERT_EQ(1, dllUnInitialize());
  EXPECT_TRUE(server.wait_closed(0));
  ASSERT_EQ(1, TcpInit());
  EXPECT_EQ(1, ReLogin());
}

}  // namespace
}  // namespace qvtest
