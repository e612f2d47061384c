// Name lookup through getaddrinfo, which both socket APIs share.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/platform.h"

namespace qv::platform {
namespace {

// The lookup's results, released however the caller leaves.
struct AddressList {
  addrinfo *head = nullptr;
  ~AddressList() {
    if (head) ::freeaddrinfo(head);
  }
};

bool lookup(const char *host, int family, AddressList &list) {
  network_startup();
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  return host && *host && ::getaddrinfo(host, nullptr, &hints, &list.head) == 0 && list.head;
}

template <class SocketAddress>
bool store(Endpoint &e, const SocketAddress &address) {
  std::memcpy(e.storage, &address, sizeof address);
  e.length = static_cast<int>(sizeof address);
  return true;
}

// An address written as digits needs no lookup: getaddrinfo would still
// read its configuration and ask the kernel for the interfaces' addresses
// to sort a list of one.
bool numeric_endpoint(const char *host, uint16_t port, Endpoint &e) {
  if (!host) return false;
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  v4.sin_family = AF_INET;
  v4.sin_port = htons(port);
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(port);
  if (::inet_pton(AF_INET, host, &v4.sin_addr) == 1) return store(e, v4);
  if (::inet_pton(AF_INET6, host, &v6.sin6_addr) == 1) return store(e, v6);
  return false;
}

}  // namespace

int resolve(const char *host, uint16_t port, std::vector<Endpoint> &out) {
  network_startup();
  if (Endpoint e; numeric_endpoint(host, port, e)) {
    out.push_back(e);
    return 0;
  }
  AddressList list;
  if (!lookup(host, AF_UNSPEC, list)) return kHostNotFound;
  for (const addrinfo *a = list.head; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(Endpoint::storage)) continue;
    Endpoint e;
    std::memcpy(e.storage, a->ai_addr, a->ai_addrlen);
    e.length = static_cast<int>(a->ai_addrlen);
    auto *sa = reinterpret_cast<sockaddr *>(e.storage);
    if (sa->sa_family == AF_INET)
      reinterpret_cast<sockaddr_in *>(e.storage)->sin_port = htons(port);
    else if (sa->sa_family == AF_INET6)
      reinterpret_cast<sockaddr_in6 *>(e.storage)->sin6_port = htons(port);
    else
      continue;
    out.push_back(e);
  }
  return out.empty() ? kHostNotFound : 0;
}

int resolve_ipv4(const char *host, unsigned char address[4]) {
  AddressList list;
  if (!lookup(host, AF_INET, list)) return kHostNotFound;
  std::memcpy(address, &reinterpret_cast<const sockaddr_in *>(list.head->ai_addr)->sin_addr, 4);
  return 0;
}

}  // namespace qv::platform
