#include "capture/remote_name.h"

#include <arpa/inet.h>

#include <algorithm>

#include "helper/port_number.h"
#include "helper/protocol.h"

namespace netvane {
namespace {

constexpr size_t kMaxUser = 32;   // the longest user name Debian's tools make
constexpr size_t kMaxHost = 253;  // the longest DNS name

bool Letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool PlainWord(std::string_view text, std::string_view extra) {
  return std::all_of(text.begin(), text.end(),
                     [&](char c) { return Letter(c) || extra.find(c) != std::string_view::npos; });
}

bool ParseUser(std::string_view text, std::string& user, std::string& error) {
  if (text.empty() || text.size() > kMaxUser || text.front() == '-' || !PlainWord(text, "._-")) {
    error = "the user name must be 1 to 32 letters, digits, '.', '_' or '-', not starting with '-'";
    return false;
  }
  user = text;
  return true;
}

bool ParseHostPart(std::string_view text, std::string& host, std::string& error) {
  if (!text.empty() && text.front() == '[') {
    const bool closed = text.size() >= 2 && text.back() == ']';
    const std::string inner = closed ? std::string(text.substr(1, text.size() - 2)) : std::string();
    in6_addr ignored{};
    if (!closed || inet_pton(AF_INET6, inner.c_str(), &ignored) != 1) {
      error = "an address in brackets must be an IPv6 address";
      return false;
    }
    host = inner;
    return true;
  }
  if (text.empty() || text.size() > kMaxHost || text.front() == '-' || text.front() == '.' ||
      !PlainWord(text, ".-_")) {
    error =
        "the host must be a name of letters, digits, '.', '-' and '_', an IPv4 address, or an IPv6 "
        "address in brackets";
    return false;
  }
  host = text;
  return true;
}

}  // namespace

std::string RemoteTarget::HostText() const {
  std::string text = user.empty() ? std::string() : user + "@";
  text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != 0) text += ":" + std::to_string(port);
  return text;
}

std::string RemoteTarget::AdapterName() const {
  return std::string(kRemoteScheme) + HostText() + "/" + adapter;
}

std::string RemoteTarget::Description() const {
  return adapter + " on " + HostText();
}

bool IsRemoteName(std::string_view text) {
  return text.starts_with(kRemoteScheme);
}

bool ParseRemoteHost(std::string_view text, RemoteTarget& out, std::string& error) {
  if (IsRemoteName(text)) text.remove_prefix(kRemoteScheme.size());
  if (text.ends_with('/')) text.remove_suffix(1);
  RemoteTarget target;
  if (const size_t at = text.find('@'); at != std::string_view::npos) {
    if (!ParseUser(text.substr(0, at), target.user, error)) return false;
    text.remove_prefix(at + 1);
  }
  // A port follows the last ':' after a bracketed address, or the only ':' of a name.
  const size_t close = text.find(']');
  const size_t colon = text.rfind(':');
  const bool bracketed = !text.empty() && text.front() == '[';
  if (!bracketed && colon != std::string_view::npos && text.find(':') != colon) {
    error = "an IPv6 address goes in brackets: [ADDRESS] or [ADDRESS]:PORT";
    return false;
  }
  std::string_view hostPart = text;
  if (colon != std::string_view::npos && (!bracketed || (close != std::string_view::npos && colon > close))) {
    if (!helper::ParsePortNumber(text.substr(colon + 1), target.port)) {
      error = "the port must be a number from 1 to 65535";
      return false;
    }
    hostPart = text.substr(0, colon);
  }
  if (!ParseHostPart(hostPart, target.host, error)) return false;
  out = target;
  return true;
}

bool ParseRemoteAdapter(std::string_view text, RemoteTarget& out, std::string& error) {
  if (!IsRemoteName(text)) {
    error = "a remote adapter is named ssh://[USER@]HOST[:PORT]/ADAPTER";
    return false;
  }
  const std::string_view rest = text.substr(kRemoteScheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    error = "no adapter after the host: ssh://[USER@]HOST[:PORT]/ADAPTER";
    return false;
  }
  RemoteTarget target;
  if (!ParseRemoteHost(rest.substr(0, slash), target, error)) return false;
  target.adapter = rest.substr(slash + 1);
  if (!helper::PlausibleAdapterName(target.adapter, error)) return false;
  out = target;
  return true;
}

}  // namespace netvane
