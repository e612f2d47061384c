// The timed web request: one HTTP GET on a connection of its own, and the
// milliseconds it took.
#pragma once

#include <cstdint>

namespace qv::services {

// Fetches url and, on success, copies the body up to its first zero byte,
// with a zero, into response and the milliseconds taken (connect, request,
// response and copy) into *elapsed_ms, and returns true.  On any failure
// both outputs are untouched; null outputs refuse the call before anything
// is sent.  Every receive waits at most the library's read time-out.
bool web_request(char *response, int32_t *elapsed_ms, const char *url);

}  // namespace qv::services
