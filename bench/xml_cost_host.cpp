// quorvex_xml_cost_host: what one adversarial XML reply costs a host.  One
// process per measure, so that its peak resident memory is the reply's
// own: the host connects to an in-process responder, runs one fxNotify pair
// whose reply is the document asked for, and prints the pair's wall time in
// milliseconds and the growth of its peak resident memory in KiB.
//
//   quorvex_xml_cost_host <shape> <MiB>
//   shapes: elements (many small elements), attributes (one element with
//   many attributes, each of its own name), text (one long text), nesting
//   (deep nesting), namespaces (many small elements inside as many
//   namespace declarations as the limits allow)
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "quorvex.h"

namespace {

std::string put_int32(int32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i)
    s[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
  return s;
}

// As many namespace declarations in scope as the limits allow, each
// element declaring as many as it may carry with prefixes of their own,
// around the filler: every filler element's prefix is looked up among
// them all.
struct Scope {
  std::string open, close;
};
Scope namespace_scope() {
  Scope scope;
  for (int n = 0; n < QV_FX_NAMESPACES_MAX && n < (QV_FX_DEPTH_MAX - 2) * QV_FX_ATTRIBUTES_MAX;
       ++n) {
    if (n % QV_FX_ATTRIBUTES_MAX == 0) scope.open += n ? "><e" : "<e", scope.close += "</e>";
    scope.open += " xmlns:p" + std::to_string(n) + "=\"u" + std::to_string(n) + "\"";
  }
  scope.open += ">";
  return scope;
}

std::string document(const std::string &shape, size_t size) {
  const Scope scope = namespace_scope();
  std::string head = "<r>", piece, tail = "<notify>end</notify></r>";
  if (shape == "elements")
    piece = "<a/>";
  else if (shape == "attributes")
    head = "<r><a", piece = " b=\"\"", tail = "/><notify>end</notify></r>";
  else if (shape == "text")
    head = "<r><notify>", piece = "x", tail = "</notify></r>";
  else if (shape == "nesting")
    head = "<r><notify>end</notify>", piece = "<d>", tail = "</r>";
  else if (shape == "namespaces")
    head = "<r><notify>end</notify>" + scope.open, piece = "<p0:a/>", tail = scope.close + "</r>";
  else
    return {};
  std::string doc = head;
  doc.reserve(size);
  // Attributes need names of their own: a repeated one fails at once.
  for (size_t n = 0;; ++n) {
    const std::string next = shape == "attributes" ? " b" + std::to_string(n) + "=\"\"" : piece;
    if (doc.size() + next.size() + tail.size() > size) break;
    doc += next;
  }
  return doc + tail;
}

long peak_kib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s elements|attributes|text|nesting|namespaces <MiB>\n", argv[0]);
    return 2;
  }
  const std::string body = document(argv[1], static_cast<size_t>(std::atof(argv[2]) * 1024 * 1024));
  if (body.empty()) return 2;
  const std::string reply = put_int32(20900) + put_int32(1) + put_int32(1) +
                            put_int32(static_cast<int32_t>(body.size())) + body;

  qvbench::LoopbackListener listener(1);
  std::thread responder([&] {
    qvbench::Socket peer(::accept(listener.fd(), nullptr, nullptr));
    // One connection only: the relogin after a refused reply meets a
    // refused connect at once instead of a server that never answers.
    ::shutdown(listener.fd(), SHUT_RDWR);
    char request[16];
    if (peer.valid() && qvbench::read_all(peer.fd(), request, sizeof request))
      qvbench::write_all(peer.fd(), reply.data(), reply.size());
    char rest;
    while (::recv(peer.fd(), &rest, 1, 0) > 0) {
    }
  });

  dllInitialize();
  SetReadTimeout(120000);
  std::vector<char> message(body.size() + 1);
  if (!fxTcpConnect(message.data(), "127.0.0.1", listener.port(), 5000, "", "", 0, "", ""))
    return 1;
  const long before = peak_kib();
  const auto start = std::chrono::steady_clock::now();
  int32_t code = -1, length = 0;
  const int requested = fxNotify_Req(&code, &length);
  const int answered = requested ? fxNotify_Resp(message.data(), code, length) : 0;
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s %s MiB: %.1f ms, peak +%ld KiB, result %d/%d\n", argv[1], argv[2], ms,
              peak_kib() - before, requested, answered);
  TcpDisconnect();
  responder.join();
  dllUnInitialize();
  return 0;
}
