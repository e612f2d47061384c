#include "proxy_option.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "call.h"
#include "text_codec.h"

namespace qv::cli {

namespace {

std::optional<ProxyOption> &proxy_of_run() {
  static std::optional<ProxyOption> proxy;
  return proxy;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decoded(std::string_view text, std::string_view url) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) throw StepError("bad %-escape in proxy " + std::string(url));
    const int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
    if (high < 0 || low < 0) throw StepError("bad %-escape in proxy " + std::string(url));
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string gbk(const std::string &text, std::string_view url) {
  auto converted = utf8_to_gbk(text);
  if (!converted) throw StepError("proxy " + std::string(url) + " cannot be written in GBK");
  return *converted;
}

}  // namespace

ProxyOption parse_proxy(std::string_view url) {
  const auto bad = [url](const std::string &why) {
    return StepError("--proxy " + std::string(url) + ": " + why);
  };
  ProxyOption proxy;
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) throw bad("expected socks4://, socks5:// or http://");
  proxy.kind = url.substr(0, scheme_end);
  for (char &c : proxy.kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (proxy.kind != "socks4" && proxy.kind != "socks5" && proxy.kind != "http")
    throw bad("expected socks4://, socks5:// or http://");
  std::string_view rest = url.substr(scheme_end + 3);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view credentials = rest.substr(0, at);
    const auto colon = credentials.find(':');
    proxy.user = gbk(percent_decoded(credentials.substr(0, colon), url), url);
    if (colon != std::string_view::npos)
      proxy.password = gbk(percent_decoded(credentials.substr(colon + 1), url), url);
    rest.remove_prefix(at + 1);
  }
  const auto colon = rest.rfind(':');
  if (colon == std::string_view::npos || colon == 0) throw bad("expected host:port");
  proxy.host = gbk(std::string(rest.substr(0, colon)), url);
  const std::string_view port = rest.substr(colon + 1);
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), proxy.port);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || proxy.port < 1 ||
      proxy.port > 65535)
    throw bad("bad port \"" + std::string(port) + "\"");
  return proxy;
}

const ProxyOption *run_proxy() {
  const auto &proxy = proxy_of_run();
  return proxy ? &*proxy : nullptr;
}

void set_run_proxy(const ProxyOption &proxy) { proxy_of_run() = proxy; }

std::string describe(const ProxyOption &proxy) {
  std::string text = proxy.kind + " proxy " + proxy.host + ":" + std::to_string(proxy.port);
  if (!proxy.user.empty()) text += " (user " + proxy.user + ")";
  return text;
}

}  // namespace qv::cli
