// A session logged in to the simulator as its demo account, for the tests
// whose subject comes after the login.
#pragma once

#include <quorvex.h>

#include <cstdint>

namespace qvtest {

// Null when the connect or the login failed.
inline QvSession *demo_session(uint16_t port) {
  QvSession *s = QvSessionCreate();
  char msg[QV_BODY_BUFFER_SIZE] = {}, p[3][QV_PARAM_BUFFER_SIZE] = {};
  int32_t code = -1;
  if (s && QvTcpConnect(s, msg, "127.0.0.1", port, 5000, "", "", 0, "", "") &&
      QvLogin_Request(s, "app", "", "demo", "demo123", "1.0") &&
      QvLogin_Feedback(s, &code, msg, p[0], p[1], p[2]) && code == QV_CODE_ACCEPTED)
    return s;
  if (s) QvSessionDestroy(s);
  return nullptr;
}

}  // namespace qvtest
