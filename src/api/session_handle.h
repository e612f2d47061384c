// What a QvSession handle is: a session the host holds by its address.
#pragma once

#include "connection/session.h"
#include "quorvex.h"

struct QvSession {
  qv::connection::Session session;
};
