// Device URI checks, made when a printer is created (IPP, web form, command, saved state) and
// again when a network printer is connected, so that a name that resolves elsewhere later is
// refused too.
#include "device_policy.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

#include "backend_mode.h"
#include "emulator_device.h"
#include "socket_device.h"

namespace app {

namespace {

struct Network {
  int family = AF_INET;
  unsigned char bytes[16] = {};
  int prefix = 0;  // bits
};

struct Policy {
  std::vector<std::string> folders;
  std::vector<Network> networks;  // empty: every network but loopback
};

Policy &policy() {
  static Policy p;
  return p;
}

bool parseNetwork(const std::string &text, Network &network) {
  const size_t slash = text.find('/');
  const std::string host = text.substr(0, slash);
  network.family = host.find(':') == std::string::npos ? AF_INET : AF_INET6;
  const int bits = network.family == AF_INET ? 32 : 128;
  if (inet_pton(network.family, host.c_str(), network.bytes) != 1) return false;
  network.prefix = bits;
  if (slash == std::string::npos) return true;
  char *end = nullptr;
  const long prefix = std::strtol(text.c_str() + slash + 1, &end, 10);
  if (*end || end == text.c_str() + slash + 1 || prefix < 0 || prefix > bits) return false;
  network.prefix = static_cast<int>(prefix);
  return true;
}

bool contains(const Network &network, int family, const unsigned char *bytes) {
  if (family != network.family) return false;
  const int whole = network.prefix / 8, rest = network.prefix % 8;
  if (std::memcmp(bytes, network.bytes, static_cast<size_t>(whole)) != 0) return false;
  const auto mask = static_cast<unsigned char>(0xFF << (8 - rest));
  return rest == 0 || (bytes[whole] & mask) == (network.bytes[whole] & mask);
}

// file:///PATH inside one of the app's folders, as PAPPL decodes the path, without "." or ".."
// segments.
bool fileAllowed(const std::string &uri, std::string &reason) {
  reason = "a file device must be in the app's folders";
  char scheme[32], user[256], host[256], path[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, path, sizeof path) < HTTP_URI_STATUS_OK)
    return false;
  const std::string file = std::string(path) + "/";
  if (file.find("/./") != std::string::npos || file.find("/../") != std::string::npos) return false;
  for (const std::string &folder : policy().folders)
    if (file.compare(0, folder.size() + 1, folder + "/") == 0 && file.size() > folder.size() + 2)
      return true;
  return false;
}

bool hostAllowed(const std::string &uri, std::string &reason) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    reason = "malformed device URI";
    return false;
  }
  http_addrlist_t *addresses = httpAddrGetList(host, AF_UNSPEC, "9100");
  bool allowed = addresses != nullptr;
  for (http_addrlist_t *a = addresses; a; a = a->next)
    allowed = allowed && printerAddressAllowed(a->addr);
  httpAddrFreeList(addresses);
  if (!allowed)
    reason = std::string("the printer's address is not in the allowed networks: ") + host;
  return allowed;
}

}  // namespace

bool setDevicePolicy(const std::vector<std::string> &folders, const std::string &networks,
                     std::string &reason) {
  Policy p;
  p.folders = folders;
  for (size_t start = 0; start < networks.size();) {
    size_t end = networks.find(',', start);
    if (end == std::string::npos) end = networks.size();
    Network network;
    if (!parseNetwork(networks.substr(start, end - start), network)) {
      reason = "bad network in printer-networks: " + networks.substr(start, end - start);
      return false;
    }
    p.networks.push_back(network);
    start = end + 1;
  }
  policy() = p;
  return true;
}

bool printerAddressAllowed(const http_addr_t &address) {
  const int family = address.addr.sa_family;
  const unsigned char *bytes = nullptr;
  if (family == AF_INET)
    bytes = reinterpret_cast<const unsigned char *>(&address.ipv4.sin_addr);
  else if (family == AF_INET6)
    bytes = reinterpret_cast<const unsigned char *>(&address.ipv6.sin6_addr);
  else
    return false;
  if (policy().networks.empty()) {
    Network loopback4, loopback6, any4, any6, mapped;
    parseNetwork("127.0.0.0/8", loopback4);
    parseNetwork("::1", loopback6);
    parseNetwork("0.0.0.0/8", any4);
    parseNetwork("::", any6);
    parseNetwork("::ffff:0.0.0.0/96", mapped);
    for (const Network &n : {loopback4, loopback6, any4, any6, mapped})
      if (contains(n, family, bytes)) return false;
    return true;
  }
  for (const Network &n : policy().networks)
    if (contains(n, family, bytes)) return true;
  return false;
}

bool deviceUriAllowed(const std::string &uri, std::string &reason) {
  auto scheme = [&](const char *name) {
    return uri.compare(0, std::strlen(name) + 1, std::string(name) + ":") == 0;
  };
  if (scheme("file")) return fileAllowed(uri, reason);
  if (scheme(kEmulatorScheme)) {
    std::vector<std::string> args;
    if (!emu::backendArgsFromUri(uri, args, reason)) return false;
    for (const std::string &arg : args)
      if (arg == "--out") {
        reason = "an emulated printer writes to the preview folder (no out=)";
        return false;
      }
    return true;
  }
  if (scheme(kSocketScheme) || scheme("socket")) return hostAllowed(uri, reason);
  return true;
}

}  // namespace app
