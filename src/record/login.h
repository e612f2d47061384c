// Login, relogin and heartbeat of the record protocol.
#pragma once

#include "record/exchange.h"

namespace qv::record {

inline constexpr int32_t kLoginCode = 100;
inline constexpr int32_t kAccepted = 900;

// Writes the login record and saves the five texts for relogins.  Does not
// read the answer.
bool login_request(const char *app, const char *extra, const char *name, const char *pwd,
                   const char *ver);

// Reads the answer to the login record.
inline constexpr Command kLoginFeedback = command(kLoginCode)
                                              .option(kReadOnly)
                                              .take_code()
                                              .take_text(Field::Body, Output::Message)
                                              .take_text(Field::Param1, Output::Out0)
                                              .take_text(Field::Param2, Output::Out1)
                                              .take_text(Field::Param3, Output::Out2);

// Keep-alive: code 105 and nothing else; the answer is read and dropped.
inline constexpr Command kHeartbeat = command(105).option(kNoResultCode);

}  // namespace qv::record
