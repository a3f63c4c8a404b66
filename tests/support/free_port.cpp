#include "support/free_port.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
  close(fd);
  return ok ? ntohs(address.sin_port) : 0;
}

}  // namespace testsupport
