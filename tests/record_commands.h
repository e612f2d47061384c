// The record commands of the login and reference-data family as rows of
// data, for the tests where one rule applies to every command.  Codes and
// failure messages are written here from the protocol's description, not
// taken from the library.
#pragma once

#include <array>

#include "quorvex_fixture.h"

namespace qvtest {

// Everything a command can hand back, each output starting untouched.  One
// output can be passed as null instead: slot 0 is the result code, 1 the
// message buffer, 2 to 4 the Param outputs.
struct Outputs {
  int32_t code = kUnsetCode;
  MessageBuffer message;
  std::array<ParamBuffer, 3> params;
  int null_slot = -1;

  int32_t *code_out() { return null_slot == 0 ? nullptr : &code; }
  char *message_out() { return null_slot == 1 ? nullptr : message.get(); }
  char *param_out(int i) { return null_slot == 2 + i ? nullptr : params[i].get(); }
  bool params_untouched() const {
    return params[0].untouched() && params[1].untouched() && params[2].untouched();
  }
};

struct RecordCommand {
  const char *name;
  int32_t code;
  bool has_code;                // takes a result code
  bool has_message;             // takes a message buffer
  int param_outputs;            // number of Param outputs
  const char *failure_message;  // readable form; nullptr: buffer left untouched
  qv_bool (*call)(Outputs &);   // with empty input texts
};

inline const RecordCommand kRecordCommands[] = {
    {"Heartbeat", 105, false, false, 0, nullptr, [](Outputs &) { return Heartbeat(); }},
    {"MsgStates", 101, true, true, 0, nullptr,
     [](Outputs &o) { return MsgStates(o.code_out(), o.message_out()); }},
    {"InfoType", 102, true, true, 0, "查询服务器端的信息细分类型失败!",
     [](Outputs &o) { return InfoType(o.code_out(), o.message_out()); }},
    {"MobileNum", 103, true, true, 0, nullptr,
     [](Outputs &o) { return MobileNum(o.code_out(), o.message_out()); }},
    {"MMSMaxSize", 104, true, true, 1, "查询服务器端限定的彩信的大小失败!",
     [](Outputs &o) { return MMSMaxSize(o.code_out(), o.message_out(), o.param_out(0), "", ""); }},
    {"NumRule", 106, true, true, 0, "查询服务器端的手机号码规则失败!",
     [](Outputs &o) { return NumRule(o.code_out(), o.message_out()); }},
    {"GetUdInfo", 107, true, true, 3, "查询该帐号的参数时出现异常失败!",
     [](Outputs &o) {
       return GetUdInfo(o.code_out(), o.message_out(), o.param_out(0), o.param_out(1),
                        o.param_out(2));
     }},
};

// Parameters show in test output by name, not as raw bytes.
inline void PrintTo(const RecordCommand &c, std::ostream *os) { *os << c.name; }

inline std::string slot_name(int slot) {
  static const char *const names[] = {"Code", "Message", "Param1", "Param2", "Param3"};
  return names[slot];
}

inline std::string command_name(const ::testing::TestParamInfo<RecordCommand> &info) {
  return info.param.name;
}

}  // namespace qvtest
