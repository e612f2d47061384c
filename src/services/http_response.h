// Reading the answer to the GET of the timed web request.  The reader takes
// its bytes from a source, so that the same code reads a socket, a test's
// bytes or a fuzzer's.  It never trusts the peer: every line, the header
// block and the body have a bound, and a chunk size is read strictly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::services {

// Bounds on what a response may make the reader hold.  A response that
// goes past one of them fails.
inline constexpr size_t kMaxHeaderLineBytes = 16384;  // one line, its end not counted
inline constexpr size_t kMaxHeaderBytes =
    256 * 1024;  // status lines, header and trailer lines, interim responses
inline constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;  // the body held
// The framing of a chunked body (size lines with their extensions, the line
// ends after the data) is counted apart from the body: it may take this
// much, and kChunkFramingPerByte more for each byte of body read, so that a
// body at the limit in one-byte chunks ("1\r\nx\r\n", five bytes of framing
// each) passes, while framing that brings no body is cut off after this
// many bytes.
inline constexpr size_t kChunkFramingBytes = 64 * 1024;
inline constexpr size_t kChunkFramingPerByte = 8;

// Where the reader gets its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads at least one byte and at most size, or returns 0 at the end of
  // the stream.  Throws when the bytes cannot be had (a socket error, an
  // expired read time-out).
  virtual size_t read(char *data, size_t size) = 0;
};

// Reads one response to a GET and returns the first `keep` bytes of its
// body: interim (1xx) responses other than 101 are skipped; a 2xx status
// without a Location header succeeds, with a body by chunked coding (when
// Transfer-Encoding names "chunked"), by Content-Length, or up to the end
// of the stream, and none for 204.  Once `keep` bytes of the body are in,
// the reader stops: the rest of a longer body is neither read nor checked,
// so its cost follows the caller's need, not the peer's claim.  Any other
// status, a Location header, a malformed or oversized response (a body
// over kMaxBodyBytes counts only when `keep` would hold it) and a stream
// that ends before the part to be read is whole give nothing.  Errors of
// the source propagate.  Bytes after the response are ignored.
std::optional<std::string> read_http_response(ByteSource &source, size_t keep = SIZE_MAX);

// The same over bytes in memory.
std::optional<std::string> parse_http_response(std::string_view bytes, size_t keep = SIZE_MAX);

}  // namespace qv::services
