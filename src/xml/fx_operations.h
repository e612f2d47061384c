// The XML protocol's operations: the login, the relogin and the reference
// queries, each split into a request half and a response half.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/fixed_texts.h"
#include "connection/connect.h"

namespace qv::xml {

inline constexpr int32_t kLoginCode = 10000;

// Sends the login (a new key every time) and saves the five texts for
// relogins; reads the reply header.
bool login_request(connection::Session &session, int32_t *reply_code, int32_t *reply_length,
                   const char *app, const char *extra, const char *name, const char *pwd,
                   const char *ver);

// Reads the login reply body: agent, agreement, pud and desc on success,
// the body as text otherwise.
bool login_response(connection::Session &session, const connection::MessageBuffer &message,
                    int32_t *agent, const connection::MessageBuffer &pud, int32_t *agreement,
                    int32_t reply_code, int32_t reply_length);

// Reconnects the session with its saved settings and logs in again with
// its saved texts (extra left empty); true only when the server accepts.
// Never throws.
bool relogin(connection::Session &session);

// A reference query: a header-only request, one element of the reply.
struct Query {
  int32_t code;
  std::string_view element;
  const text::FixedText *refused;  // the message when the reply code is not success
};

inline constexpr Query kMsgStatesQuery{10101, "states", &text::kFxMsgStatesFailed};
inline constexpr Query kInfoTypeQuery{10102, "types", &text::kFxInfoTypeFailed};
inline constexpr Query kNumRuleQuery{10106, "rule", &text::kFxNumRuleFailed};
inline constexpr Query kNotifyQuery{10127, "notify", &text::kFxNotifyFailed};

bool query_request(connection::Session &session, const Query &query, int32_t *reply_code,
                   int32_t *reply_length);
bool query_response(connection::Session &session, const Query &query, char *message,
                    int32_t reply_code, int32_t reply_length);

}  // namespace qv::xml
