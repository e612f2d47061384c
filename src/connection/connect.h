// Opening the connection: path selection, the direct path and the final
// step that saves the arguments for the relogin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "connection/session.h"

namespace qv::connection {

// Which export connects; the two differ only in the messages they write
// and the HTTP version of the proxy request.
enum class Protocol { Record, Xml };

// The caller's message buffer.  Copies are cut to the capacity (with room
// for the terminating zero); a caller's own buffer has no known size.
struct MessageBuffer {
  char *data;
  size_t capacity;  // SIZE_MAX when the caller's size is unknown

  void write(std::string_view first, std::string_view second = {}) const;
};

// Connects the session as TcpConnect (Record) or fxTcpConnect (Xml) do.
// The arguments are copied into its ConnectionSettings only when the
// connect succeeds.
bool connect(Session &session, Protocol protocol, const MessageBuffer &message,
             const ConnectionSettings &args);

// The first half of every relogin: closes the connection and connects
// again with the saved settings, the connect's message going to the
// relogin's own block.  False at once while the host is disconnecting; on
// any failure, the reason is noted for GetLastRelogin.
bool reconnect(Session &session, Protocol protocol);
// The relogin's message block (nothing reads it).
MessageBuffer reconnect_message(Session &session);

}  // namespace qv::connection
