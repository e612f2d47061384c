// What the simulator needs from the operating system, in one place:
// loopback TCP sockets for its network side, and the wait of the
// standalone server for a request to stop.  sim_os_posix.cpp and
// sim_os_windows.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::sim::os {

// A socket descriptor (POSIX) or SOCKET (Windows); kNoSocket is neither.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A socket listening on 127.0.0.1:port (0: a free port chosen by the
// system).  Throws std::system_error when the port cannot be bound.
Socket listen_on_loopback(uint16_t port);
uint16_t bound_port(Socket listener);

// The next connection on `listener`, with Nagle's delay turned off; on
// failure kNoSocket, `transient` saying whether accepting again may work
// (an aborted connection, or no descriptor or buffer free for now) and
// `why` what went wrong.
Socket accept_connection(Socket listener, bool &transient, std::string &why);

// Ends a blocked accept_connection() on `listener`, bound to `port`, or
// makes the next one return at once.  The listener stays open: the caller
// closes it once the accepting thread has seen that it should stop.
void wake_accept(Socket listener, uint16_t port);

// The peer's IPv4 address as "a.b.c.d"; empty when it cannot be told.
std::string peer_address(Socket s);

// Makes each later read or write on s that waits longer than ms fail
// (0: wait as long as it takes).
void set_idle_timeout(Socket s, uint32_t ms);

// Reads exactly n bytes; false on a close, an error or the idle time-out,
// with *idle (when given) saying whether it was the time-out.
bool read_exactly(Socket s, unsigned char *to, std::size_t n, bool *idle = nullptr);
// Writes all n bytes; false on an error or the idle time-out (never a
// signal).
bool write_all(Socket s, const unsigned char *from, std::size_t n);

// Sends FIN and discards input until the peer closes too: closing with
// unread input would reset the connection instead.
void close_gracefully(Socket s);

// Shuts both directions down and ends any read or write that another
// thread is blocked in; the socket stays open until close_socket().
void interrupt(Socket s);
void close_socket(Socket s);

// The standalone server: stop_on_request() makes the stop requests
// (SIGINT and SIGTERM; Ctrl+C, Ctrl+Break and closing the console on
// Windows) wait for wait_for_stop_request().  Call it before any thread
// starts, so that every thread leaves the requests to the waiting one.
void stop_on_request();
void wait_for_stop_request();

}  // namespace qv::sim::os
