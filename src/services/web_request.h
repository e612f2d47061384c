// The timed web request: one HTTP GET on a connection of its own, and the
// milliseconds it took.
#pragma once

#include <cstdint>

namespace qv::services {

// Fetches url and, on success, writes the body's text (its bytes before
// the first zero byte) into response, cut to response_size - 1 bytes, with
// a zero; the text's length into *length, or response_size when it was
// cut; the milliseconds taken (connect, request, response and copy) into
// *elapsed_ms; and returns true.  No more of the body is read than
// response_size bytes, which are enough to tell a cut.  On any failure
// the outputs are untouched; null outputs or a response_size below 1
// refuse the call before anything is sent.  The request and the response
// together take at most read_timeout_ms after the connect (0 or below: no
// limit).
bool web_request(char *response, int32_t response_size, int32_t *length, int32_t *elapsed_ms,
                 const char *url, int read_timeout_ms);

}  // namespace qv::services
