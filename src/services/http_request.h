// The GET request of the timed web request: the URL split into its parts
// and the request's bytes.  Pure functions, so that they can be driven
// without a network.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::services {

struct HttpUrl {
  std::string host;  // as the resolver takes it (no brackets)
  uint16_t port = 80;
  std::string host_header;  // the Host value: host, and ":port" unless 80
  std::string target;       // path, document and parameters, from "/"
};

// Splits "[http://]host[:port][/path/document][?parameters][#fragment]".
// The scheme defaults to http and is compared without regard to case; any
// other (https among them: there is no TLS here) is refused.  User
// information before "@" is dropped, since no credentials are sent.  An
// IPv6 address stands in brackets.  Spaces and bytes above 127 in the
// target are percent-encoded; a control character anywhere, an empty host
// or a port outside 1..65535 refuses the URL.  The fragment is not sent.
std::optional<HttpUrl> parse_http_url(std::string_view url);

// The request: "GET <target> HTTP/1.1" and the header lines Content-Type,
// Host, Accept and User-Agent, in that order, then an empty line.
std::string get_request(const HttpUrl &url);

}  // namespace qv::services
