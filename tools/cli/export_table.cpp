// The exports the CLI can call: one row each, adapting a Call's inputs and
// output buffers to the export's argument list.  Later issues add rows here
// and nowhere else.
#include "call.h"

namespace qv::cli {

namespace {

constexpr Input text(std::string_view name) { return {name, InputKind::Text}; }
constexpr Input number(std::string_view name) { return {name, InputKind::Number}; }

// TcpConnect and fxTcpConnect take the same inputs.
const std::vector<Input> kConnectInputs{
    text("Host"),      number("Port"),      number("Timeout"), text("ProxyKind"),
    text("ProxyHost"), number("ProxyPort"), text("ProxyUser"), text("ProxyPassword")};

}  // namespace

const std::vector<ExportRow> &export_table() {
  static const std::vector<ExportRow> table{
      // Lifecycle and connection
      {"dllInitialize", {}, [](Call &) -> int32_t { return dllInitialize(); }},
      {"TcpInit", {}, [](Call &) -> int32_t { return TcpInit(); }},
      {"dllUnInitialize", {}, [](Call &) -> int32_t { return dllUnInitialize(); }},
      {"TcpRelease", {}, [](Call &) -> int32_t { return TcpRelease(); }},
      {"TcpDisconnect", {}, [](Call &) -> int32_t { return TcpDisconnect(); }},
      {"fxTcpDisconnect", {}, [](Call &) -> int32_t { return fxTcpDisconnect(); }},
      {"TcpConnect", kConnectInputs,
       [](Call &c) -> int32_t {
         return TcpConnect(c.message(), c.text(0), c.number(1), c.number(2), c.text(3), c.text(4),
                           c.number(5), c.text(6), c.text(7));
       }},
      {"fxTcpConnect", kConnectInputs,
       [](Call &c) -> int32_t {
         return fxTcpConnect(c.message(), c.text(0), c.number(1), c.number(2), c.text(3), c.text(4),
                             c.number(5), c.text(6), c.text(7));
       }},
      {"SetReadTimeout", {number("Milliseconds")},
       [](Call &c) -> int32_t { return SetReadTimeout(c.number(0)); }},

      // Login, relogin, heartbeat
      {"Login_Request", {text("app"), text("extra"), text("name"), text("pwd"), text("ver")},
       [](Call &c) -> int32_t {
         return Login_Request(c.text(0), c.text(1), c.text(2), c.text(3), c.text(4));
       }},
      {"Login_Feedback", {},
       [](Call &c) -> int32_t {
         return Login_Feedback(c.code(), c.message(), c.param(0), c.param(1), c.param(2));
       }},
      {"ReLogin", {}, [](Call &) -> int32_t { return ReLogin(); }},
      {"Heartbeat", {}, [](Call &) -> int32_t { return Heartbeat(); }},

      // Reference queries
      {"MsgStates", {}, [](Call &c) -> int32_t { return MsgStates(c.code(), c.message()); }},
      {"InfoType", {}, [](Call &c) -> int32_t { return InfoType(c.code(), c.message()); }},
      {"MobileNum", {}, [](Call &c) -> int32_t { return MobileNum(c.code(), c.message()); }},
      {"MMSMaxSize", {text("Text"), text("Param")},
       [](Call &c) -> int32_t {
         return MMSMaxSize(c.code(), c.message(), c.param(0, "ParamOut"), c.text(0), c.text(1));
       }},
      {"NumRule", {}, [](Call &c) -> int32_t { return NumRule(c.code(), c.message()); }},
      {"GetUdInfo", {},
       [](Call &c) -> int32_t {
         return GetUdInfo(c.code(), c.message(), c.param(0), c.param(1), c.param(2));
       }},
  };
  return table;
}

}  // namespace qv::cli
