// The raw TCP device: reads take what has arrived and return at once.
#include "socket_device.h"

#include "device_policy.h"

#include <pappl/pappl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "device_fault.h"

namespace app {

namespace {

constexpr int kDefaultPort = 9100;
constexpr int kConnectMs = 30000;

// The printer's address and, once connected, its socket.
struct Connection {
  std::string host;
  int port = kDefaultPort;
  int fd = -1;
};

Connection &connectionOf(pappl_device_t *device) {
  return *static_cast<Connection *>(papplDeviceGetData(device));
}

// A connection to a local port no one listens on may meet itself (TCP's simultaneous open, when
// the port is also the one the system picks for the connection's own end): that is no printer.
bool connectedToItself(int fd) {
  sockaddr_storage local{}, peer{};
  socklen_t localSize = sizeof local, peerSize = sizeof peer;
  return getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0 &&
         getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0 &&
         localSize == peerSize && std::memcmp(&local, &peer, localSize) == 0;
}

// Connects at the first read or write, so that a printer that cannot be reached fails the job
// with the reason (PAPPL holds a job whose device does not open, retrying without one).
bool connected(pappl_device_t *device) {
  Connection &c = connectionOf(device);
  if (c.fd >= 0) return true;
  http_addrlist_t *addresses =
      httpAddrGetList(c.host.c_str(), AF_UNSPEC, std::to_string(c.port).c_str());
  const bool ok = addresses && httpAddrConnect2(addresses, &c.fd, kConnectMs, nullptr);
  httpAddrFreeList(addresses);
  if (ok && !connectedToItself(c.fd)) return true;
  if (ok) close(c.fd);
  c.fd = -1;
  reportDeviceFault(device, "Unable to connect to " + c.host + ":" + std::to_string(c.port) + ".");
  return false;
}

bool openSocket(pappl_device_t *device, const char *uri, const char *) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    papplDeviceError(device, "Bad device URI '%s'.", uri);
    return false;
  }
  if (port <= 0) port = kDefaultPort;
  http_addrlist_t *addresses = httpAddrGetList(host, AF_UNSPEC, std::to_string(port).c_str());
  for (http_addrlist_t *a = addresses; a; a = a->next) {
    if (!printerAddressAllowed(a->addr)) {
      httpAddrFreeList(addresses);
      papplDeviceError(device, "%s is not in the allowed printer networks.", host);
      return false;
    }
  }
  httpAddrFreeList(addresses);
  auto *c = new Connection;
  c->host = host;
  c->port = port;
  papplDeviceSetData(device, c);
  return true;
}

void closeSocket(pappl_device_t *device) {
  Connection *c = &connectionOf(device);
  if (c->fd >= 0) close(c->fd);
  forgetDeviceFault(device);
  delete c;
}

ssize_t readSocket(pappl_device_t *device, void *buffer, size_t n) {
  if (!connected(device)) return -1;
  pollfd ready = {connectionOf(device).fd, POLLIN, 0};
  if (poll(&ready, 1, 0) <= 0) return 0;
  return recv(ready.fd, buffer, n, MSG_DONTWAIT);
}

ssize_t writeSocket(pappl_device_t *device, const void *buffer, size_t n) {
  if (!connected(device)) return -1;
  const int fd = connectionOf(device).fd;
  const char *data = static_cast<const char *>(buffer);
  for (size_t done = 0; done < n;) {
    const ssize_t sent = send(fd, data + done, n - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      reportDeviceFault(device, std::string("Unable to write to the printer: ") +
                                    std::strerror(sent < 0 ? errno : EPIPE));
      return -1;
    }
    done += static_cast<size_t>(sent);
  }
  return static_cast<ssize_t>(n);
}

pappl_preason_t socketStatus(pappl_device_t *) {
  return PAPPL_PREASON_NONE;
}

}  // namespace

void registerSocketScheme() {
  papplDeviceAddScheme(kSocketScheme, PAPPL_DEVTYPE_CUSTOM_NETWORK, nullptr, openSocket,
                       closeSocket, readSocket, writeSocket, socketStatus, nullptr);
}

}  // namespace app
