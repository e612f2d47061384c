// The exports the CLI can call: one row each, adapting a Call's inputs and
// output buffers to the export's argument list.  The rows are generated
// from the interface's description (export_rows.inc); this file adds the
// few adapters that shape a call of their own.
#include <algorithm>
#include <array>
#include <string>

#include "call.h"
#include "proxy_option.h"

namespace qv::cli {

namespace {

constexpr Input text(std::string_view name) { return {name, InputKind::Text}; }
constexpr Input number(std::string_view name) { return {name, InputKind::Number}; }

// ---- Connecting

using ConnectExport = qv_bool(QV_CALL *)(char *, const char *, int32_t, int32_t, const char *,
                                         const char *, int32_t, const char *, const char *);

// A step that gives no ProxyKind connects through the --proxy of the run,
// if there is one; a step that gives one (even "") uses its own inputs.
template <ConnectExport Connect>
int32_t connect(Call &c) {
  const ProxyOption *proxy = run_proxy();
  if (c.given(3) || !proxy)
    return Connect(c.message(), c.text(0), c.number(1), c.number(2), c.text(3), c.text(4),
                   c.number(5), c.text(6), c.text(7));
  c.note("through the " + describe(*proxy));
  return Connect(c.message(), c.text(0), c.number(1), c.number(2), proxy->kind.c_str(),
                 proxy->host.c_str(), proxy->port, proxy->user.c_str(), proxy->password.c_str());
}

// ---- XML protocol: the reply header of each _Req, for its _Resp

enum class FxPair { Login, MsgStates, InfoType, NumRule, Notify };

struct ReplyHeader {
  int32_t code = -1;
  int32_t length = 0;
  bool seen = false;
};

ReplyHeader &last_reply(FxPair pair) {
  static std::array<ReplyHeader, 5> headers;
  return headers[static_cast<std::size_t>(pair)];
}

constexpr std::string_view request_name(FxPair pair) {
  constexpr std::string_view kNames[] = {"fxLogin_Req", "fxMsgStates_Req", "fxInfoType_Req",
                                         "fxNumRule_Req", "fxNotify_Req"};
  return kNames[static_cast<std::size_t>(pair)];
}

int32_t remember(FxPair pair, qv_bool result, const int32_t *code, const int32_t *length) {
  last_reply(pair) = {*code, *length, true};
  return result;
}

// The ReplyCode and ReplyLength inputs of a _Resp step at `first`, or the
// header that the last matching _Req step printed.
ReplyHeader reply_header(Call &c, std::size_t first, FxPair pair) {
  if (c.given(first + 1)) return {c.number(first), c.number(first + 1), true};
  const ReplyHeader &last = last_reply(pair);
  ReplyHeader header = last.seen ? last : ReplyHeader{};
  if (c.given(first)) header.code = c.number(first);
  c.note(std::string(last.seen ? "reply header of the last " : "no ") +
         std::string(request_name(pair)) + (last.seen ? "" : " yet") + ": ReplyCode " +
         std::to_string(header.code) + ", ReplyLength " + std::to_string(header.length));
  return header;
}

// A buffer that holds any reply body as text.
std::size_t reply_buffer_size(const ReplyHeader &h) {
  return std::max<std::size_t>(QV_BODY_BUFFER_SIZE,
                               h.length > 0 ? static_cast<std::size_t>(h.length) + 1 : 0);
}

using FxRequest = qv_bool(QV_CALL *)(int32_t *, int32_t *);
using FxResponse = qv_bool(QV_CALL *)(char *, int32_t, int32_t);

template <FxRequest F, FxPair Pair>
int32_t fx_request(Call &c) {
  int32_t *code = c.number_out(0, "ReplyCode");
  int32_t *length = c.number_out(1, "ReplyLength");
  return remember(Pair, F(code, length), code, length);
}

template <FxResponse F, FxPair Pair>
int32_t fx_response(Call &c) {
  const ReplyHeader h = reply_header(c, 0, Pair);
  return F(c.message(reply_buffer_size(h)), h.code, h.length);
}

// fxLogin_Req's reply header is remembered for the fxLogin_Resp step.
int32_t fx_login_request(Call &c) {
  int32_t *code = c.number_out(0, "ReplyCode");
  int32_t *length = c.number_out(1, "ReplyLength");
  return remember(FxPair::Login,
                  fxLogin_Req(code, length, c.text(0), c.text(1), c.text(2), c.text(3), c.text(4)),
                  code, length);
}

int32_t fx_login_response(Call &c) {
  const ReplyHeader h = reply_header(c, 0, FxPair::Login);
  const std::size_t size = reply_buffer_size(h);
  return fxLogin_Resp(c.message(size), c.number_out(0, "Agent"), c.text_out(0, "Pud", size),
                      c.number_out(1, "Agreement"), h.code, h.length);
}

// The buffer is as large as the step says; one byte stands in for a size
// below 1, which the library refuses without writing.
int32_t web_request_ex(Call &c) {
  const std::size_t size = static_cast<std::size_t>(std::max<int32_t>(c.number(0), 1));
  return WebRequestEx(c.message(size, "Response"), c.number(0), c.number_out(0, "ResponseLength"),
                      c.number_out(1, "ElapsedMs"), c.text(1));
}

// The exports whose calls the host shapes itself; every other row calls its
// export with its arguments as their roles say.
struct Shaped {
  std::string_view name;
  int32_t (*invoke)(Call &);
};
const Shaped kShaped[] = {
    {"TcpConnect", connect<TcpConnect>},
    {"fxTcpConnect", connect<fxTcpConnect>},
    {"WebRequestEx", web_request_ex},
    {"fxLogin_Req", fx_login_request},
    {"fxLogin_Resp", fx_login_response},
    {"fxMsgStates_Req", fx_request<fxMsgStates_Req, FxPair::MsgStates>},
    {"fxMsgStates_Resp", fx_response<fxMsgStates_Resp, FxPair::MsgStates>},
    {"fxInfoType_Req", fx_request<fxInfoType_Req, FxPair::InfoType>},
    {"fxInfoType_Resp", fx_response<fxInfoType_Resp, FxPair::InfoType>},
    {"fxNumRule_Req", fx_request<fxNumRule_Req, FxPair::NumRule>},
    {"fxNumRule_Resp", fx_response<fxNumRule_Resp, FxPair::NumRule>},
    {"fxNotify_Req", fx_request<fxNotify_Req, FxPair::Notify>},
    {"fxNotify_Resp", fx_response<fxNotify_Resp, FxPair::Notify>},
};

}  // namespace

const std::vector<ExportRow> &export_table() {
  static const std::vector<ExportRow> table = [] {
    std::vector<ExportRow> rows{
#include "export_rows.inc"
    };
    for (ExportRow &row : rows)
      for (const Shaped &shaped : kShaped)
        if (row.name == shaped.name) row.invoke = shaped.invoke;
    return rows;
  }();
  return table;
}

}  // namespace qv::cli
