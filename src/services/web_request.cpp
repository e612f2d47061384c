#include "services/web_request.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "common/fixed_texts.h"
#include "connection/call_outcome.h"
#include "connection/socket_errors.h"
#include "connection/tcp_client.h"
#include "platform/platform.h"
#include "services/http_request.h"
#include "services/http_response.h"

namespace qv::services {
namespace {

// The response straight from the connection's socket, every receive
// within the request's one deadline.
class SocketSource : public ByteSource {
 public:
  SocketSource(platform::Socket &socket, platform::Deadline deadline)
      : socket_(socket), deadline_(deadline) {}
  size_t read(char *data, size_t size) override {
    int error = 0;
    const long n = socket_.receive(data, size, deadline_, error);
    if (n < 0) throw connection::platform_error(error, text::kReadTimedOut);
    return static_cast<size_t>(n);
  }

 private:
  platform::Socket &socket_;
  platform::Deadline deadline_;
};

std::optional<std::string> fetch(const HttpUrl &url, size_t keep, int read_timeout_ms) {
  // A plain handler of its own: no proxy, and the system's own connect
  // time-out.  It closes the connection when it goes.
  connection::SocketHandler handler;
  handler.open(url.host, url.port, 0);
  // The read time-out bounds the whole request after the connect: a server
  // that reads nothing or drips its answer cannot hold the call longer.
  const platform::Deadline deadline = platform::Deadline::after(read_timeout_ms);
  const std::string request = get_request(url);
  if (const int rc = handler.socket().send_all(request.data(), request.size(), deadline); rc != 0)
    throw connection::platform_error(rc, text::kWriteTimedOut);
  SocketSource source(handler.socket(), deadline);
  return read_http_response(source, keep);
}

}  // namespace

bool web_request(char *response, int32_t response_size, int32_t *length, int32_t *elapsed_ms,
                 const char *url, int read_timeout_ms) {
  if (response == nullptr || response_size < 1 || length == nullptr || elapsed_ms == nullptr) {
    if (response == nullptr)
      connection::refuse(1, "The response buffer is a null pointer.");
    else if (response_size < 1)
      connection::refuse(2, "The response buffer's size is below 1.");
    else if (length == nullptr)
      connection::refuse(3, "The response length's pointer is null.");
    else
      connection::refuse(4, "The elapsed time's pointer is null.");
    return false;
  }
  const int64_t start = platform::monotonic_ms();
  const std::optional<HttpUrl> parsed = parse_http_url(url ? url : "");
  if (!parsed) {
    connection::refuse(5, "The URL is not an http:// URL that the library can request.");
    return false;
  }
  const size_t size = static_cast<size_t>(response_size);
  // A text of response_size bytes or more does not fit: that many bytes of
  // the body tell a cut from a fit.
  const std::optional<std::string> body = fetch(*parsed, size, read_timeout_ms);
  if (!body) {
    connection::other_failure("The answer is not an HTTP response that the library reads.");
    return false;
  }

  // NOLINTNEXTLINE(bugprone-not-null-terminated-result): a search for the zero, not a copy
  const void *zero = std::memchr(body->data(), '\0', body->size());
  const size_t text =
      zero ? static_cast<size_t>(static_cast<const char *>(zero) - body->data()) : body->size();
  const size_t n = std::min(text, size - 1);
  std::memcpy(response, body->data(), n);
  response[n] = '\0';
  *length = text < size ? static_cast<int32_t>(text) : response_size;
  // Unsigned 32-bit difference: a wrap of the clock's low bits does no harm.
  *elapsed_ms = static_cast<int32_t>(static_cast<uint32_t>(platform::monotonic_ms()) -
                                     static_cast<uint32_t>(start));
  return true;
}

}  // namespace qv::services
