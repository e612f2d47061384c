// Login, relogin and heartbeat of the record protocol.
#pragma once

#include "connection/session.h"
#include "record/command.h"

namespace qv::record {

inline constexpr int32_t kLoginCode = 100;
inline constexpr int32_t kAccepted = 900;

// The login record: Body "app;extra", then name, pwd and ver in the three
// Params.  The relogin sends the same record from the saved texts.
inline constexpr Command kLogin = command(kLoginCode)
                                      .put(Field::Body, Input::Text0SemicolonText1)
                                      .put(Field::Param1, Input::Text2)
                                      .put(Field::Param2, Input::Text3)
                                      .put(Field::Param3, Input::Text4)
                                      .secret(Field::Param2)
                                      .option(kNoResultCode);

// Saves the five texts for relogins, writes the login record and reads its
// answer, which it keeps for Login_Feedback.  1 once the record is written.
inline constexpr Command kLoginRequest = kLogin.option(kSaveCredentials | kKeepAnswer);

// Hands back the answer that Login_Request read.  When there is none (it
// failed to arrive, or this thread kept none) it has no failure message:
// the host's buffers stay as they were, and the outcome says why.
inline constexpr Command kLoginFeedback = command(kLoginCode)
                                              .option(kKeptAnswer | kLoginAnswer)
                                              .take_code()
                                              .take_text(Field::Body, Output::Message)
                                              .take_text(Field::Param1, Output::Out0)
                                              .take_text(Field::Param2, Output::Out1)
                                              .take_text(Field::Param3, Output::Out2);

// Keep-alive: code 105 and nothing else; the answer is read and dropped.
inline constexpr Command kHeartbeat = command(105).option(kNoResultCode);

// The session's relogin: reconnect with the saved settings, send the login
// from the saved credentials, true only on 900.  Never throws.
bool relogin(connection::Session &session);

}  // namespace qv::record
