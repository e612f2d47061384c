// Every record command of the sub-account, query, send-job and content-check
// families, driven from one table: the request each sends, what it hands
// back into which output and in which order, its field limits, its refused
// outputs and its failure path.  The table is written from the protocol's
// description of each command; it shares nothing with the library's own
// declarations.
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "quorvex_fixture.h"

namespace qvtest {
namespace {

// ------------------------------------------------------------ the table

enum class F { Body, P1, P2, P3 };

// A command's outputs, as they stand in its argument list: the result code,
// the message buffer, then up to three further outputs.  Further output i is
// always filled from the answer's Param i+1.
enum Slot { kCode = 0, kMessage = 1, kOut1 = 2, kOut2 = 3, kOut3 = 4 };
enum class OutKind { None, Text, Number };

enum Flag : unsigned {
  kBodyLenZero = 1,   // Body text sent with BodyLen 0
  kSavedLogin = 2,    // Body and Param1 carry the saved name and password;
                      // the two input texts must be equal
  kAppendsError = 4,  // the failure message is followed by the error's text
};

// The arguments of one call, in the roles a command gives them.
struct Args {
  int32_t *code = nullptr;
  char *message = nullptr;
  void *out[3] = {};
  const char *text[4] = {};
  int32_t number[3] = {};
};

// One row per command; a field left out of a row is empty (no inputs of
// that kind, no further outputs, no flags).
struct Export {
  const char *name;
  int32_t code;
  std::vector<F> texts = {};     // the field of each input text, in argument order
  std::vector<F> numbers = {};   // the field of each int32 passed by value
  OutKind outs = OutKind::None;  // the kind of the further outputs
  std::vector<Slot> order;       // what is handed over, first to last; holds every output
  qv_bool (*call)(const Args &);
  unsigned flags = 0;
  const char *failure;  // readable form; nullptr: none, buffer untouched
};

void PrintTo(const Export &e, std::ostream *os) { *os << e.name; }

// The further outputs: every slot handed over beyond the code and message.
int out_count(const Export &e) { return static_cast<int>(e.order.size()) - 2; }

char *text_out(const Args &a, int i) { return static_cast<char *>(a.out[i]); }
int32_t *number_out(const Args &a, int i) { return static_cast<int32_t *>(a.out[i]); }

const std::vector<Slot> kBodyThenCode = {kMessage, kCode};
const std::vector<Slot> kCodeThenBody = {kCode, kMessage};
const std::vector<Slot> kCodeBodyOne = {kCode, kMessage, kOut1};
const std::vector<Slot> kCodeBodyTwo = {kCode, kMessage, kOut1, kOut2};
const std::vector<Slot> kCodeBodyThree = {kCode, kMessage, kOut1, kOut2, kOut3};

const std::vector<F> kFourTexts = {F::Body, F::P1, F::P2, F::P3};
const std::vector<F> kBodyOnly = {F::Body};

// The call of a row: the export with the result code, the message buffer
// and then the arguments named by T (input text i), N (int32 i), TO (text
// output i) and NO (number output i).
#define CALL(Name, ...) \
  [](const Args &a) { return Name(a.code, a.message __VA_OPT__(, ) __VA_ARGS__); }
#define T(i) a.text[i]
#define N(i) a.number[i]
#define TO(i) text_out(a, i)
#define NO(i) number_out(a, i)

const std::vector<Export> &exports() {
  using O = OutKind;
  // clang-format off
  static const std::vector<Export> table = {
    // Password and sub-accounts.
    {.name = "EditPassword", .code = 110, .texts = {F::P2, F::P3}, .order = kBodyThenCode,
     .call = CALL(EditPassword, T(0), T(1)), .flags = kSavedLogin, .failure = "修改密码异常失败!"},
    {.name = "AddSubUser", .code = 111, .texts = kFourTexts, .order = kBodyThenCode,
     .call = CALL(AddSubUser, T(0), T(1), T(2), T(3)), .failure = "添加子帐号异常失败!"},
    {.name = "AddSubUserEx", .code = 1110, .texts = kFourTexts, .order = kBodyThenCode,
     .call = CALL(AddSubUserEx, T(0), T(1), T(2), T(3)), .failure = "添加子帐号异常失败!"},
    {.name = "AddSubAccount", .code = 1111, .texts = kFourTexts, .order = kBodyThenCode,
     .call = CALL(AddSubAccount, T(0), T(1), T(2), T(3)), .failure = "添加子帐号异常失败!"},
    {.name = "DisableSubUser", .code = 112, .texts = {F::P1, F::P2}, .order = kBodyThenCode,
     .call = CALL(DisableSubUser, T(0), T(1)), .failure = "禁用(或启用)子帐号异常失败!"},
    {.name = "IncreaseSubBuy", .code = 113, .texts = {F::Body, F::P1, F::P2}, .order = kBodyThenCode,
     .call = CALL(IncreaseSubBuy, T(0), T(1), T(2)), .failure = "把父帐号的某定单的部分购买数量转移到子帐号相应定单上异常失败!"},
    {.name = "ReduceSubBuy", .code = 114, .texts = {F::Body, F::P1, F::P2}, .order = kBodyThenCode,
     .call = CALL(ReduceSubBuy, T(0), T(1), T(2)), .failure = "把子帐号的某定单的部分购买数量转移到父帐号相应定单上异常失败!"},
    {.name = "FindAllSubs", .code = 115, .order = kBodyThenCode,
     .call = CALL(FindAllSubs), .failure = "查找所有的子帐号异常失败!"},
    {.name = "FindAllSubsEx", .code = 1150, .outs = O::Number, .order = kCodeBodyThree,
     .call = CALL(FindAllSubsEx, NO(0), NO(1), NO(2)), .failure = "查找所有的子帐号异常失败!"},
    {.name = "FindAllEmplyee", .code = 141, .outs = O::Number, .order = kCodeBodyThree,
     .call = CALL(FindAllEmplyee, NO(0), NO(1), NO(2)), .failure = "查找所有的销售经理失败!"},
    {.name = "Transfer", .code = 140, .outs = O::Number, .order = kCodeBodyThree,
     .call = CALL(Transfer, NO(0), NO(1), NO(2)), .failure = "传输大数据用的专用传输函数异常失败!"},
    {.name = "FindSubInfo", .code = 116, .texts = kBodyOnly, .order = kBodyThenCode,
     .call = CALL(FindSubInfo, T(0)), .failure = "查找某个子帐号信息异常失败!"},
    {.name = "FindSubInfoEx", .code = 1160, .texts = kBodyOnly, .order = kBodyThenCode,
     .call = CALL(FindSubInfoEx, T(0)), .failure = "查找某个子帐号信息异常失败!"},
    {.name = "FindSubAllOrders", .code = 117, .texts = kBodyOnly, .order = kBodyThenCode,
     .call = CALL(FindSubAllOrders, T(0)), .failure = "查找某个子帐号的所有定单异常失败!"},
    {.name = "FindSubOrderInfo", .code = 118, .texts = {F::Body, F::P1}, .order = kBodyThenCode,
     .call = CALL(FindSubOrderInfo, T(0), T(1)), .failure = "查找某个子帐号的某个定单异常失败!"},
    {.name = "EditSubPWD", .code = 119, .texts = kFourTexts, .order = kBodyThenCode,
     .call = CALL(EditSubPWD, T(0), T(1), T(2), T(3)), .failure = "修改子帐号的密码异常失败!"},
    {.name = "AddSubGwNumEx", .code = 1310, .texts = kBodyOnly, .outs = O::Text, .order = kCodeBodyTwo,
     .call = CALL(AddSubGwNumEx, TO(0), TO(1), T(0)), .failure = "添加子帐号的接入号码异常失败!"},
    {.name = "DelSubGwNum", .code = 132, .texts = kBodyOnly, .outs = O::Text, .order = kCodeBodyOne,
     .call = CALL(DelSubGwNum, TO(0), T(0)), .failure = "删除子帐号的接入号码异常失败!"},

    // Client, product, information-package and scheduled-order queries.
    {.name = "ClientInfo", .code = 121, .order = kCodeThenBody,
     .call = CALL(ClientInfo), .failure = "客户信息查询异常失败!"},
    {.name = "AllProductId", .code = 122, .order = kCodeThenBody,
     .call = CALL(AllProductId), .failure = "查询公司所有产品编号异常失败!"},
    {.name = "CltProductId", .code = 1220, .order = kCodeThenBody,
     .call = CALL(CltProductId), .failure = "查询客户端产品异常失败!"},
    {.name = "CltAllPrdIdName", .code = 1221, .order = kCodeThenBody,
     .call = CALL(CltAllPrdIdName), .failure = nullptr},
    {.name = "CltAllMmsInfo", .code = 1222, .order = kCodeThenBody,
     .call = CALL(CltAllMmsInfo), .failure = nullptr},
    {.name = "CltAllIdNameType", .code = 1223, .order = kCodeThenBody,
     .call = CALL(CltAllIdNameType), .failure = nullptr},
    {.name = "ProductInfo", .code = 123, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(ProductInfo, T(0)), .failure = "某种产品信息异常失败!"},
    {.name = "AllInfoPackId", .code = 124, .order = kCodeThenBody,
     .call = CALL(AllInfoPackId), .failure = "查询公司所有产品编号异常失败!"},
    {.name = "InfoPackStatus", .code = 125, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(InfoPackStatus, T(0)), .failure = "某个信息包的发送报告异常失败!"},
    {.name = "InfoPackStatusEx", .code = 1250, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(InfoPackStatusEx, T(0)), .failure = "某个信息包的发送报告异常失败!"},
    {.name = "GetMessage", .code = 127, .order = kCodeThenBody,
     .call = CALL(GetMessage), .failure = "查询公司的通知信息异常失败!"},
    {.name = "LastDetails", .code = 128, .texts = kBodyOnly, .numbers = {F::P1}, .order = kCodeThenBody,
     .call = CALL(LastDetails, T(0), N(0)), .failure = "查询客户最近20条信息以内的定单明细异常失败!"},
    {.name = "GetProductLen", .code = 129, .order = kCodeThenBody,
     .call = CALL(GetProductLen), .failure = "得到产品的字数长度的命令异常失败!"},
    {.name = "PQOrderList", .code = 1500, .texts = {F::P1, F::P2}, .order = kCodeThenBody,
     .call = CALL(PQOrderList, T(0), T(1)), .failure = "排期定单列表请求命令异常失败!"},
    {.name = "PQOrderInfoByID", .code = 1510, .texts = {F::P1, F::P2, F::P3}, .order = kCodeThenBody,
     .call = CALL(PQOrderInfoByID, T(0), T(1), T(2)), .failure = "排期定单明细请求命令异常失败!"},
    {.name = "PQGetAbilityURL", .code = 1520, .order = kCodeThenBody,
     .call = CALL(PQGetAbilityURL), .failure = "排期发送能力URL的请求命令异常失败!"},

    // Send jobs.
    {.name = "SubmitAllClear", .code = 298, .order = kCodeThenBody,
     .call = CALL(SubmitAllClear), .failure = "清空服务器端上次的垃圾数据异常失败!"},
    {.name = "SubmitPrdId", .code = 201, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitPrdId, T(0)), .flags = kBodyLenZero, .failure = "提交数据字段（产品编号）异常失败!"},
    {.name = "CheckPrdId", .code = 2011, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(CheckPrdId, T(0)), .flags = kBodyLenZero, .failure = "提交数据字段（产品编号）异常失败!"},
    {.name = "SubmitTelList", .code = 202, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitTelList, T(0)), .failure = "提交数据字段（手机号码）异常失败!"},
    {.name = "SubmitTelNum", .code = 203, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitTelNum, T(0)), .failure = "提交数据字段（手机号码数量）异常失败!"},
    {.name = "SubmitContent", .code = 204, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitContent, T(0)), .failure = "提交数据字段（信息内容）异常失败!"},
    {.name = "CheckContent", .code = 2041, .order = kCodeThenBody,
     .call = CALL(CheckContent), .failure = "验证信息内容关键字异常失败!"},
    {.name = "SubmitPushURL", .code = 205, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitPushURL, T(0)), .failure = "提交数据字段（URL 地址）异常失败!"},
    {.name = "SubmitBgnDate", .code = 206, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitBgnDate, T(0)), .failure = "提交数据字段（开始日期）异常失败!"},
    {.name = "SubmitBgnDateEx", .code = 2060, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitBgnDateEx, T(0)), .failure = "提交数据字段（排期专用的生效日期和时间段）异常失败!"},
    {.name = "SubmitEndDate", .code = 207, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitEndDate, T(0)), .failure = "提交数据字段（结束日期）异常失败!"},
    {.name = "SubmitBgnTime", .code = 208, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitBgnTime, T(0)), .failure = "提交数据字段（开始时间）异常失败!"},
    {.name = "SubmitEndTime", .code = 209, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitEndTime, T(0)), .failure = "提交数据字段（结束时间）异常失败!"},
    {.name = "SubmitTransFilename", .code = 211, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitTransFilename, T(0)), .failure = "提交数据字段（文件名称）异常失败!"},
    {.name = "SubmitTransFile", .code = 212, .texts = kBodyOnly, .order = kCodeThenBody,
     .call = CALL(SubmitTransFile, T(0)), .failure = "提交数据字段（文件内容）异常失败!"},
    {.name = "SubmitPQOrderSelect", .code = 2200, .texts = {F::P1, F::P2, F::P3}, .order = kCodeThenBody,
     .call = CALL(SubmitPQOrderSelect, T(0), T(1), T(2)), .failure = "提交排期定单编号异常失败!"},
    {.name = "SubmitAllOver", .code = 299, .order = kCodeThenBody,
     .call = CALL(SubmitAllOver), .flags = kAppendsError, .failure = "总提交命令异常失败!"},
    {.name = "SubmitAllOver_2", .code = 299, .outs = O::Number, .order = kCodeBodyThree,
     .call = CALL(SubmitAllOver_2, NO(0), NO(1), NO(2)), .failure = "总提交命令异常失败!"},
    {.name = "SubmitAllOverEx", .code = 2990, .order = kCodeThenBody,
     .call = CALL(SubmitAllOverEx), .failure = "排期专用总提交命令异常失败!"},
    {.name = "SubmitAllOverEx_2", .code = 2990, .outs = O::Number, .order = kCodeBodyThree,
     .call = CALL(SubmitAllOverEx_2, NO(0), NO(1), NO(2)), .failure = "排期专用总提交命令异常失败!"},

    // Content checks and account parameters.  ContentPreview takes its
    // parameter text before its content text.
    {.name = "ContentPreview", .code = 160, .texts = {F::P1, F::Body}, .outs = O::Number, .order = kCodeBodyOne,
     .call = CALL(ContentPreview, NO(0), T(0), T(1)), .flags = kBodyLenZero, .failure = "内容预览命令异常失败!"},
    {.name = "GetSJKHDParams", .code = 161, .outs = O::Text, .order = kCodeBodyThree,
     .call = CALL(GetSJKHDParams, TO(0), TO(1), TO(2)), .failure = "从服务器获取商家客户端参数失败!"},
    {.name = "GetSJKHDBid", .code = 162, .order = kCodeThenBody,
     .call = CALL(GetSJKHDBid), .failure = "从服务器获取商家客户Bid失败!"},
    {.name = "CheckSMSContent", .code = 1700, .texts = kBodyOnly, .numbers = {F::P1, F::P2, F::P3}, .order = kCodeThenBody,
     .call = CALL(CheckSMSContent, T(0), N(0), N(1), N(2)), .failure = "验证内容的合法性时出现异常失败!"},
    {.name = "ClientGuiControl", .code = 1800, .order = kCodeThenBody,
     .call = CALL(ClientGuiControl), .failure = "返回服务器端帐号中的界面控制参数出现异常失败!"},
  };
  // clang-format on
  return table;
}

#undef CALL
#undef T
#undef N
#undef TO
#undef NO

std::string export_name(const ::testing::TestParamInfo<Export> &info) { return info.param.name; }

std::vector<Export> exports_where(const std::function<bool(const Export &)> &keep) {
  std::vector<Export> out;
  for (const Export &e : exports())
    if (keep(e)) out.push_back(e);
  return out;
}

// Every export of the account, query, send-job and content-check families
// in the interface description, each once.
TEST(RecordCommandTable, CoversEveryExportOfItsFamiliesOnce) {
  std::multiset<std::string> described, tabled;
  std::ifstream in(QV_RECORD_FAMILY_EXPORTS);
  for (std::string name; std::getline(in, name);)
    if (!name.empty()) described.insert(name);
  for (const Export &e : exports()) tabled.insert(e.name);
  EXPECT_FALSE(described.empty());
  EXPECT_EQ(described, tabled);
}

// ------------------------------------------------------------ a caller

constexpr int32_t kUnsetNumber = 0x5a5a5a5a;

// The numbers a test passes by value; distinct, and one negative.
constexpr int32_t kNumberInputs[3] = {20, -2, 35};

// One caller's outputs, each starting untouched, and its inputs.  One output
// slot can be passed as null.
struct Caller {
  int32_t code = kUnsetCode;
  MessageBuffer message;
  std::array<ParamBuffer, 3> params;
  std::array<int32_t, 3> numbers = {kUnsetNumber, kUnsetNumber, kUnsetNumber};
  std::vector<Bytes> texts;
  bool null_texts = false;
  int null_slot = -1;

  Args args(const Export &e) {
    Args a;
    a.code = null_slot == kCode ? nullptr : &code;
    a.message = null_slot == kMessage ? nullptr : message.get();
    for (int i = 0; i < out_count(e); ++i) {
      void *out = e.outs == OutKind::Text ? static_cast<void *>(params[i].get()) : &numbers[i];
      a.out[i] = null_slot == kOut1 + i ? nullptr : out;
    }
    for (size_t i = 0; i < texts.size(); ++i) a.text[i] = null_texts ? nullptr : texts[i].c_str();
    for (int i = 0; i < 3; ++i) a.number[i] = kNumberInputs[i];
    return a;
  }
  qv_bool call(const Export &e) { return e.call(args(e)); }

  bool outs_untouched() const {
    for (int i = 0; i < 3; ++i)
      if (!params[i].untouched() || numbers[i] != kUnsetNumber) return false;
    return true;
  }
  bool untouched() const { return code == kUnsetCode && message.untouched() && outs_untouched(); }
};

// A distinct input text for each argument, fitting its field; GBK bytes in
// every one.
Bytes sample_text(const Export &e, size_t i) {
  if (e.flags & kSavedLogin) return "Pass-" + gbk("新");
  if (e.texts[i] == F::Body) return gbk("正文:") + e.name + "#" + std::to_string(i);
  return "arg" + std::to_string(i) + gbk("参数");
}

std::vector<Bytes> sample_texts(const Export &e) {
  std::vector<Bytes> texts;
  for (size_t i = 0; i < e.texts.size(); ++i) texts.push_back(sample_text(e, i));
  return texts;
}

// The request the command must send for these inputs.
Bytes request(const Export &e, const std::vector<Bytes> &texts, const Bytes &name = "",
              const Bytes &pwd = "") {
  rec::Fields f;
  f.code = e.code;
  Bytes *field[4] = {&f.body, &f.param1, &f.param2, &f.param3};
  if (e.flags & kSavedLogin) {
    f.body = name;
    f.param1 = pwd;
  }
  for (size_t i = 0; i < e.texts.size(); ++i) *field[static_cast<int>(e.texts[i])] = texts.at(i);
  for (size_t i = 0; i < e.numbers.size(); ++i)
    *field[static_cast<int>(e.numbers[i])] = std::to_string(kNumberInputs[i]);
  f.body_len = (e.flags & kBodyLenZero) ? 0 : static_cast<int32_t>(f.body.size());
  return rec::make(f);
}

Bytes request_with_empty_texts(const Export &e) {
  return request(e, std::vector<Bytes>(e.texts.size()));
}

// The answer of most tests: a code other than 900, a Body that fills its
// field without a terminator, and Params that read as the numbers 12, 0, -3.
const int32_t kAnswerCode = 901;
const Bytes kFullBody = [] {
  Bytes b;
  while (b.size() < rec::kBodySize) b += gbk("应答正文");
  return b.substr(0, rec::kBodySize);
}();
const char *const kAnswerParams[3] = {"12", "0", "-3"};
const int32_t kAnswerNumbers[3] = {12, 0, -3};
const Bytes kAnswer =
    rec::make(kAnswerCode, kFullBody, kAnswerParams[0], kAnswerParams[1], kAnswerParams[2]);

// An accepted answer whose Params also read as numbers.
const Bytes kAcceptedWithNumbers = rec::make(QV_CODE_ACCEPTED, "ok", "1", "2", "3");

// ------------------------------------------------------------ request and answer

class RecordCommandExchange : public QuorvexTest, public ::testing::WithParamInterface<Export> {};

// Each argument lands in its field, every other byte is zero, and the answer
// reaches the outputs that the command has, and no others.  Null input texts
// are sent as empty texts.
TEST_P(RecordCommandExchange, SendsItsFieldsAndHandsBackTheAnswer) {
  const Export &e = GetParam();
  const std::vector<Bytes> texts = sample_texts(e);
  server.on(0, Script()
                   .expect(request(e, texts))
                   .send(kAnswer)
                   .expect(request_with_empty_texts(e))
                   .send(kAnswer));
  connect_direct();

  Caller caller;
  caller.texts = texts;
  ASSERT_EQ(1, caller.call(e));
  EXPECT_EQ(kAnswerCode, caller.code);
  EXPECT_EQ(kFullBody, caller.message.text());
  EXPECT_EQ('\0', caller.message.at(rec::kBodySize));
  EXPECT_TRUE(caller.message.guard_intact());
  for (int i = 0; i < 3; ++i) {
    if (i >= out_count(e)) {
      EXPECT_TRUE(caller.params[i].untouched());
      EXPECT_EQ(kUnsetNumber, caller.numbers[i]);
    } else if (e.outs == OutKind::Text) {
      EXPECT_EQ(kAnswerParams[i], caller.params[i].text());
      EXPECT_TRUE(caller.params[i].guard_intact());
    } else {
      EXPECT_EQ(kAnswerNumbers[i], caller.numbers[i]);
    }
  }

  Caller nulls;
  nulls.texts = texts;
  nulls.null_texts = true;
  EXPECT_EQ(1, nulls.call(e));
  EXPECT_EQ(kAnswerCode, nulls.code);
  EXPECT_TRUE(server.wait_done(0));
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandExchange, ::testing::ValuesIn(exports()),
                         export_name);

// ------------------------------------------------------------ hand-over order

// Two outputs given the same memory show which was written last.  The code
// and the numbers are four bytes at the start; texts end at their zero.
struct SharedOutput {
  alignas(int32_t) char bytes[QV_BODY_BUFFER_SIZE + 64];
  SharedOutput() { std::memset(bytes, 'Z', sizeof bytes); }
  int32_t first_int() const {
    int32_t v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
};

constexpr int32_t kOrderCode = 0x41424344;  // "DCBA": no text of the answer
const Bytes kOrderAnswer =
    rec::make(kOrderCode, "body-text", kAnswerParams[0], kAnswerParams[1], kAnswerParams[2]);

// Whether the shared memory holds what `slot` receives from kOrderAnswer.
bool shows(const SharedOutput &s, const Export &e, Slot slot) {
  switch (slot) {
    case kCode: return s.first_int() == kOrderCode;
    case kMessage: return std::strcmp(s.bytes, "body-text") == 0;
    default: {
      const int i = slot - kOut1;
      if (e.outs == OutKind::Number) return s.first_int() == kAnswerNumbers[i];
      return std::strcmp(s.bytes, kAnswerParams[i]) == 0;
    }
  }
}

const char *slot_name(Slot s) {
  static const char *const names[] = {"code", "message", "output 1", "output 2", "output 3"};
  return names[s];
}

class RecordCommandHandOver : public QuorvexTest, public ::testing::WithParamInterface<Export> {};

// For each neighbouring pair in the hand-over order, the later output wins
// the memory the two share.
TEST_P(RecordCommandHandOver, WritesItsOutputsInOrder) {
  const Export &e = GetParam();
  Script script;
  for (size_t i = 1; i < e.order.size(); ++i) script.expect(rec::kSize).send(kOrderAnswer);
  server.on(0, script);
  connect_direct();

  for (size_t i = 1; i < e.order.size(); ++i) {
    const Slot earlier = e.order[i - 1], later = e.order[i];
    Caller caller;
    caller.texts = sample_texts(e);
    Args a = caller.args(e);
    SharedOutput shared;
    for (Slot s : {earlier, later}) {
      if (s == kCode)
        a.code = reinterpret_cast<int32_t *>(shared.bytes);
      else if (s == kMessage)
        a.message = shared.bytes;
      else
        a.out[s - kOut1] = shared.bytes;
    }
    ASSERT_EQ(1, e.call(a));
    EXPECT_TRUE(shows(shared, e, later))
        << slot_name(later) << " must be written after " << slot_name(earlier);
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandHandOver, ::testing::ValuesIn(exports()),
                         export_name);

// ------------------------------------------------------------ field limits

struct LimitCase {
  Export command;
  size_t text;  // which input text is at its limit
};

void PrintTo(const LimitCase &c, std::ostream *os) { *os << c.command.name << " text " << c.text; }

std::vector<LimitCase> limit_cases() {
  std::vector<LimitCase> cases;
  for (const Export &e : exports()) {
    // The two new passwords must be equal, so they grow together.
    const size_t n = (e.flags & kSavedLogin) ? 1 : e.texts.size();
    for (size_t i = 0; i < n; ++i) cases.push_back({e, i});
  }
  return cases;
}

// A text of exactly n bytes, mostly double-byte GBK characters.
Bytes text_of(size_t n) {
  Bytes t;
  while (t.size() + 2 <= n) t += gbk("长");
  if (t.size() < n) t += "!";
  return t;
}

class RecordCommandFieldLimit : public QuorvexTest,
                                public ::testing::WithParamInterface<LimitCase> {};

// 2047 bytes fill a Body and 19 a Param and are sent whole; one byte more
// is refused before anything is sent: the heartbeat is the next record on
// the same connection, and no relogin runs.
TEST_P(RecordCommandFieldLimit, FitsWholeAndOneByteMoreIsRefused) {
  const Export &e = GetParam().command;
  const size_t i = GetParam().text;
  const size_t limit = e.texts[i] == F::Body ? 2047 : 19;
  auto texts_with = [&](size_t n) {
    std::vector<Bytes> texts = sample_texts(e);
    texts[i] = text_of(n);
    if (e.flags & kSavedLogin) texts[1] = texts[0];
    return texts;
  };
  server.on(0, logged_in()
                   .expect(request(e, texts_with(limit), kName, kPwd))
                   .send(kAcceptedWithNumbers)
                   .expect(kHeartbeat)
                   .send(kAccepted));
  connect_and_login();

  Caller fits;
  fits.texts = texts_with(limit);
  EXPECT_EQ(1, fits.call(e));
  EXPECT_EQ(QV_CODE_ACCEPTED, fits.code);

  Caller too_long;
  too_long.texts = texts_with(limit + 1);
  EXPECT_EQ(0, too_long.call(e));
  EXPECT_EQ(-1, too_long.code);
  EXPECT_EQ(gbk("输入的文本过长!"), too_long.message.text());
  EXPECT_TRUE(too_long.outs_untouched());

  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandFieldLimit, ::testing::ValuesIn(limit_cases()),
                         [](const auto &info) {
                           return std::string(info.param.command.name) + "Text" +
                                  std::to_string(info.param.text);
                         });

// ------------------------------------------------------------ null outputs

struct NullCase {
  Export command;
  Slot slot;
};

void PrintTo(const NullCase &c, std::ostream *os) {
  *os << c.command.name << " with null " << slot_name(c.slot);
}

std::vector<NullCase> null_cases() {
  std::vector<NullCase> cases;
  for (const Export &e : exports())
    for (int s = kCode; s < kOut1 + out_count(e); ++s) cases.push_back({e, static_cast<Slot>(s)});
  return cases;
}

class RecordCommandNullOutput : public QuorvexTest,
                                public ::testing::WithParamInterface<NullCase> {};

// Refused: nothing written, nothing sent, no relogin.
TEST_P(RecordCommandNullOutput, RefusesTheCall) {
  const Export &e = GetParam().command;
  server.on(0, logged_in().expect(kHeartbeat).send(kAccepted));
  connect_and_login();
  Caller caller;
  caller.texts = sample_texts(e);
  caller.null_slot = GetParam().slot;
  EXPECT_EQ(0, caller.call(e));
  EXPECT_TRUE(caller.untouched());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1u, server.accepted());
}

std::string null_case_name(const ::testing::TestParamInfo<NullCase> &info) {
  static const char *const names[] = {"Code", "Message", "Out1", "Out2", "Out3"};
  return std::string(info.param.command.name) + "Null" + names[info.param.slot];
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandNullOutput, ::testing::ValuesIn(null_cases()),
                         null_case_name);

// ------------------------------------------------------------ failure path

enum class Fault { PeerCloses, BeforeAnyConnect, BeforeInitialize };

struct FailureCase {
  Export command;
  Fault fault;
};

const char *fault_name(Fault f) {
  switch (f) {
    case Fault::PeerCloses: return "PeerCloses";
    case Fault::BeforeAnyConnect: return "BeforeAnyConnect";
    case Fault::BeforeInitialize: return "BeforeInitialize";
  }
  return "";
}

void PrintTo(const FailureCase &c, std::ostream *os) {
  *os << c.command.name << ", " << fault_name(c.fault);
}

std::vector<FailureCase> failure_cases() {
  std::vector<FailureCase> cases;
  for (const Export &e : exports())
    for (Fault f : {Fault::PeerCloses, Fault::BeforeAnyConnect, Fault::BeforeInitialize})
      cases.push_back({e, f});
  return cases;
}

// What the message buffer holds after the failure.
Bytes failure_message(const Export &e, const char *error) {
  return gbk(e.failure) + ((e.flags & kAppendsError) ? error : "");
}

class RecordCommandFailure : public ServerTest,
                             public ::testing::WithParamInterface<FailureCase> {};

// The command reports the failure with its own message (the buffer stays
// untouched where it has none), relogs in exactly once with the last login,
// and the next command runs on the new connection.
TEST_P(RecordCommandFailure, ReportsAndRelogsInOnce) {
  const Export &e = GetParam().command;
  Caller caller;
  caller.texts = sample_texts(e);

  if (GetParam().fault == Fault::PeerCloses) {
    ASSERT_EQ(1, dllInitialize());
    ASSERT_EQ(1, SetReadTimeout(kTestReadTimeoutMs));
    server.on(0, logged_in().expect(request(e, caller.texts, kName, kPwd)).close());
    server.on(1, logged_in().expect(kHeartbeat).send(kAccepted));
    connect_and_login();
  } else if (GetParam().fault == Fault::BeforeAnyConnect) {
    ASSERT_EQ(1, dllInitialize());
  }

  EXPECT_EQ(0, caller.call(e));
  EXPECT_EQ(-1, caller.code);
  if (e.failure) {
    const char *error =
        GetParam().fault == Fault::PeerCloses ? "Connection Closed Gracefully." : "Not Connected";
    EXPECT_EQ(failure_message(e, error), caller.message.text());
  } else {
    EXPECT_TRUE(caller.message.untouched());
  }
  EXPECT_TRUE(caller.outs_untouched());

  if (GetParam().fault == Fault::PeerCloses) {
    EXPECT_TRUE(server.wait_closed(0));
    EXPECT_EQ(1, Heartbeat());
    EXPECT_EQ(2u, server.accepted());
  } else {
    EXPECT_EQ(0u, server.accepted());
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandFailure, ::testing::ValuesIn(failure_cases()),
                         [](const auto &info) {
                           return std::string(info.param.command.name) +
                                  fault_name(info.param.fault);
                         });

// ------------------------------------------------------------ number takes

struct NumberTakeCase {
  Export command;
  int failing;  // index of the output whose Param is no integer
};

void PrintTo(const NumberTakeCase &c, std::ostream *os) {
  *os << c.command.name << " output " << c.failing + 1;
}

std::vector<NumberTakeCase> number_take_cases() {
  std::vector<NumberTakeCase> cases;
  for (const Export &e : exports_where([](const Export &e) { return e.outs == OutKind::Number; }))
    for (int i = 0; i < out_count(e); ++i) cases.push_back({e, i});
  return cases;
}

class RecordCommandNumberTake : public QuorvexTest,
                                public ::testing::WithParamInterface<NumberTakeCase> {};

// An empty Param fails the call half-way: the code stays as received (901
// here: a refusal is converted like an acceptance), earlier numbers keep
// their values, later ones are untouched, the Body already copied gives way
// to the failure message, and the relogin runs once.
TEST_P(RecordCommandNumberTake, EmptyParamFailsAfterTheEarlierOutputs) {
  const Export &e = GetParam().command;
  const int failing = GetParam().failing;
  Bytes params[3] = {kAnswerParams[0], kAnswerParams[1], kAnswerParams[2]};
  params[failing].clear();
  server.on(0, logged_in()
                   .expect(rec::kSize)
                   .send(rec::make(kAnswerCode, "body-text", params[0], params[1], params[2])));
  server.on(1, logged_in().expect(kHeartbeat).send(kAccepted));
  connect_and_login();

  Caller caller;
  caller.texts = sample_texts(e);
  EXPECT_EQ(0, caller.call(e));
  EXPECT_EQ(kAnswerCode, caller.code);
  EXPECT_EQ(gbk(e.failure), caller.message.text());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(i < failing ? kAnswerNumbers[i] : kUnsetNumber, caller.numbers[i]) << i;
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Exports, RecordCommandNumberTake, ::testing::ValuesIn(number_take_cases()),
                         [](const auto &info) {
                           return std::string(info.param.command.name) + "Output" +
                                  std::to_string(info.param.failing + 1);
                         });

// What counts as a number: decimal digits with an optional sign, the whole
// text, within int32.  A Param may fill its 20 bytes without a terminator.
using RecordCommandNumberText = QuorvexTest;

TEST_F(RecordCommandNumberText, IntegersWithAnOptionalSignAreTaken) {
  const std::vector<std::pair<Bytes, int32_t>> cases = {
      {"7", 7},
      {"-7", -7},
      {"+7", 7},
      {"-0", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"00000000000000000012", 12},
  };
  Script script;
  for (const auto &c : cases)
    script.expect(rec::make(1150)).send(rec::make(900, "", "1", c.first, "3"));
  server.on(0, script);
  connect_direct();
  for (const auto &[text, value] : cases) {
    Caller caller;
    ASSERT_EQ(1, FindAllSubsEx(&caller.code, caller.message.get(), &caller.numbers[0],
                               &caller.numbers[1], &caller.numbers[2]))
        << text;
    EXPECT_EQ(value, caller.numbers[1]) << text;
    EXPECT_EQ(3, caller.numbers[2]) << text;
  }
}

class RecordCommandNotANumber : public QuorvexTest,
                                public ::testing::WithParamInterface<const char *> {};

TEST_P(RecordCommandNotANumber, FailsTheCall) {
  server.on(0,
            logged_in().expect(rec::make(1150)).send(rec::make(900, "list", "1", GetParam(), "3")));
  server.on(1, logged_in());
  connect_and_login();
  Caller caller;
  EXPECT_EQ(0, FindAllSubsEx(&caller.code, caller.message.get(), &caller.numbers[0],
                             &caller.numbers[1], &caller.numbers[2]));
  EXPECT_EQ(QV_CODE_ACCEPTED, caller.code);
  EXPECT_EQ(1, caller.numbers[0]);
  EXPECT_EQ(kUnsetNumber, caller.numbers[1]);
  EXPECT_EQ(gbk("查找所有的子帐号异常失败!"), caller.message.text());
  EXPECT_TRUE(server.wait_done(1));
}

INSTANTIATE_TEST_SUITE_P(Texts, RecordCommandNotANumber,
                         ::testing::Values("-", "+", "x", "7x", "1.5", "1 2", "+-1", "--1",
                                           "2147483648", "-2147483649", "99999999999999999999"),
                         [](const auto &info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace qvtest
