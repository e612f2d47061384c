// The CONNECT tunnel through an HTTP proxy.
#pragma once

#include "connection/connect.h"

namespace qv::connection {

// Opens the tunnel to args.host:args.port through args.proxy_host:proxy_port.
// Writes the path's message; true when the proxy answered 200.
bool http_proxy_path(TcpClient &tcp, Protocol protocol, const MessageBuffer &message,
                     const ConnectionSettings &args);

}  // namespace qv::connection
