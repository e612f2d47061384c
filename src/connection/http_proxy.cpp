#include "connection/http_proxy.h"

#include <string>

#include "common/fixed_texts.h"
#include "connection/call_outcome.h"
#include "connection/socket_errors.h"
#include "trace/trace.h"

namespace qv::connection {
namespace {

constexpr size_t kMaxLine = 16384;
// The whole reply, blank lines before the status included: each line is
// bounded, and so is their number, so that a proxy that sends header lines
// without end fails the connect instead of holding it.
constexpr size_t kMaxReply = 256 * 1024;

// The proxy's reply, line by line, within the total bound.
class ReplyLines {
 public:
  ReplyLines(TcpClient &tcp, Deadline deadline) : tcp_(tcp), deadline_(deadline) {}
  std::string next() {
    std::string line = tcp_.read_line(kMaxLine, deadline_);
    used_ += line.size() + 1;
    if (used_ > kMaxReply) throw Error(std::string(text::kMaxHeaderLength));  // the caller closes
    return line;
  }

 private:
  TcpClient &tcp_;
  Deadline deadline_;
  size_t used_ = 0;
};

std::string trimmed(const std::string &line) {
  size_t b = 0, e = line.size();
  while (b < e && static_cast<unsigned char>(line[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
  return line.substr(b, e - b);
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The first non-empty line; a status line whose fourth character is "-"
// continues until a line that starts with its code and a blank.
std::string read_status_line(ReplyLines &lines) {
  std::string status;
  while (status.empty()) status = trimmed(lines.next());
  if (status.size() >= 4 && status[3] == '-') {
    const std::string end_marker = status.substr(0, 3) + ' ';
    for (;;) {
      const std::string line = lines.next();
      if (line.size() < 4 || same_ignoring_case(std::string_view(line).substr(0, 4), end_marker))
        break;
    }
  }
  return status;
}

// The status code decides: the number after "HTTP/<version>", or the
// first three characters of a reply in the numbered-lines style ("200-"
// continued, "200 " final).  A 200 elsewhere in the line (a reason phrase
// naming a port, say) decides nothing.
bool tunnel_opened(std::string_view status) {
  if (status.substr(0, 5) == "HTTP/") {
    const size_t code = status.find_first_not_of(' ', status.find(' '));
    if (code == std::string_view::npos) return false;
    status.remove_prefix(code);
  }
  const bool code_alone =
      status.size() == 3 ||
      (status.size() > 3 && (status[3] == ' ' || status[3] == '\t' || status[3] == '-'));
  return code_alone && status.substr(0, 3) == "200";
}

}  // namespace

bool http_proxy_path(TcpClient &tcp, Protocol protocol, const MessageBuffer &message,
                     const ConnectionSettings &args) {
  try {
    tcp.set_target(args.proxy_host, args.proxy_port);
    tcp.attach(nullptr);
    // The proxy's connect is bounded like a direct one.
    tcp.connect(args.timeout);
    // One deadline for the whole exchange with the proxy.
    const Deadline deadline = tcp.waits().operation_deadline();

    // One empty line ends the request; anything after it would travel
    // through the tunnel to the server.
    const std::string request = "CONNECT " + args.host + ":" + std::to_string(args.port) +
                                (protocol == Protocol::Record ? " HTTP/1.1" : " HTTP/1.0") +
                                "\r\n\r\n";
    trace::event_if_on(
        [&] { return "http proxy > " + trace::quoted(request.substr(0, request.size() - 4)); });
    tcp.write(request.data(), request.size(), deadline);

    ReplyLines lines(tcp, deadline);
    const std::string status = read_status_line(lines);
    trace::event_if_on([&] { return "http proxy < " + trace::quoted(status); });
    if (!tunnel_opened(status)) {
      // What follows is the proxy's own answer, never the server's: the
      // connection goes, so that nothing meant for the server reaches the
      // proxy and nothing of the proxy's is read as the server's.
      tcp.abandon();
      note_connect_error(Error("The proxy refused the tunnel: " + status));
      message.write(text::kHttpTunnelRefused.gbk);
      return false;
    }
    message.write(text::kHttpTunnelOpened.gbk);
    while (!lines.next().empty()) {
    }
    return true;
  } catch (const Error &e) {
    tcp.abandon();
    note_connect_error(e);
    message.write(text::kHttpProxyFailed.gbk, e.text());
    return false;
  }
}

}  // namespace qv::connection
