// The raw TCP device: reads take what has arrived and return at once.
#include "socket_device.h"

#include "device_policy.h"

#include <pappl/pappl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace app {

namespace {

constexpr int kDefaultPort = 9100;
constexpr int kConnectMs = 30000;

int socketOf(pappl_device_t *device) {
  return static_cast<int>(reinterpret_cast<intptr_t>(papplDeviceGetData(device)));
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
  int fd = -1;
  const bool connected = addresses && httpAddrConnect2(addresses, &fd, kConnectMs, nullptr);
  httpAddrFreeList(addresses);
  if (!connected) {
    papplDeviceError(device, "Unable to connect to %s:%d: %s", host, port, std::strerror(errno));
    return false;
  }
  papplDeviceSetData(device, reinterpret_cast<void *>(static_cast<intptr_t>(fd)));
  return true;
}

void closeSocket(pappl_device_t *device) {
  close(socketOf(device));
}

ssize_t readSocket(pappl_device_t *device, void *buffer, size_t n) {
  pollfd ready = {socketOf(device), POLLIN, 0};
  if (poll(&ready, 1, 0) <= 0) return 0;
  return recv(ready.fd, buffer, n, MSG_DONTWAIT);
}

ssize_t writeSocket(pappl_device_t *device, const void *buffer, size_t n) {
  const char *data = static_cast<const char *>(buffer);
  for (size_t done = 0; done < n;) {
    const ssize_t sent = send(socketOf(device), data + done, n - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return -1;
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
