// The reference queries: request codes, what comes back where, and in
// which order it is handed over.
#include <cstring>

#include "record_commands.h"

namespace qvtest {
namespace {

std::vector<RecordCommand> queries() {
  std::vector<RecordCommand> q;
  for (const RecordCommand &c : kRecordCommands)
    if (c.has_code) q.push_back(c);
  return q;
}

class ReferenceQuery : public QuorvexTest, public ::testing::WithParamInterface<RecordCommand> {};

// Any code but 900 is still an answer: result 1 and everything handed over.
TEST_P(ReferenceQuery, HandsBackTheAnswer) {
  const RecordCommand &c = GetParam();
  const Bytes body = gbk("号段:") + c.name;
  server.on(
      0, Script().expect(rec::make(c.code)).send(rec::make(-7, body, "first", "second", "third")));
  connect_direct();
  Outputs out;
  ASSERT_EQ(1, c.call(out));
  EXPECT_EQ(-7, out.code);
  EXPECT_EQ(body, out.message.text());
  const char *const params[] = {"first", "second", "third"};
  for (int i = 0; i < 3; ++i) {
    if (i < c.param_outputs) {
      EXPECT_EQ(params[i], out.params[i].text());
    } else {
      EXPECT_TRUE(out.params[i].untouched());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, ReferenceQuery, ::testing::ValuesIn(queries()), command_name);

// The order of hand-over shows when outputs share memory: the last writer
// wins.  The code shares the message buffer's first four bytes.
using HandOverOrder = QuorvexTest;

struct SharedBuffer {
  alignas(int32_t) char bytes[QV_BODY_BUFFER_SIZE + 64] = {};
  int32_t *code() { return reinterpret_cast<int32_t *>(bytes); }
  int32_t code_bytes() const {
    int32_t v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
};

// The code's bytes are non-zero, so that a text written over it shows.
constexpr int32_t kCode = 0x41424344;
const Bytes kAnswer = rec::make(kCode, "body-text", "param-one", "param-two", "param-three");

TEST_F(HandOverOrder, BodyThenCodeForTheShortQueries) {
  server.on(0, Script()
                   .expect(rec::make(101))
                   .send(kAnswer)
                   .expect(rec::make(102))
                   .send(kAnswer)
                   .expect(rec::make(103))
                   .send(kAnswer)
                   .expect(rec::make(106))
                   .send(kAnswer));
  connect_direct();
  for (auto query : {MsgStates, InfoType, MobileNum, NumRule}) {
    SharedBuffer shared;
    ASSERT_EQ(1, query(shared.code(), shared.bytes));
    EXPECT_EQ(kCode, shared.code_bytes());
    EXPECT_STREQ("-text", shared.bytes + 4);  // the body's tail survives
  }
}

TEST_F(HandOverOrder, CodeBodyThenParamsForMMSMaxSizeAndGetUdInfo) {
  server.on(0, Script()
                   .expect(rec::make(104))
                   .send(kAnswer)
                   .expect(rec::make(107))
                   .send(kAnswer)
                   .expect(rec::make(104))
                   .send(kAnswer));
  connect_direct();
  SharedBuffer mms;
  ASSERT_EQ(1, MMSMaxSize(mms.code(), mms.bytes, mms.bytes, "", ""));
  EXPECT_STREQ("param-one", mms.bytes);
  SharedBuffer info;
  ASSERT_EQ(1, GetUdInfo(info.code(), info.bytes, info.bytes, info.bytes, info.bytes));
  EXPECT_STREQ("param-three", info.bytes);
  SharedBuffer code_first;
  ParamBuffer param;
  ASSERT_EQ(1, MMSMaxSize(code_first.code(), code_first.bytes, param.get(), "", ""));
  EXPECT_STREQ("body-text", code_first.bytes);
}

}  // namespace
}  // namespace qvtest
