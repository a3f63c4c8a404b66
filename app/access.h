// Who may administer the server. Printing and reading state are open to every client; adding,
// changing and deleting printers, the defaults and the web administration pages need an
// administrator: root, the server's own user or a member of the admin group. A client on the
// local socket is known by its peer credentials; a network client (loopback included) by HTTP
// Basic credentials checked with PAM, over TLS unless it is on loopback.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace app {

// The local socket of the server whose state folder is stateDirectory.
std::string localSocketPath(const std::string &stateDirectory);

// The socket the server listens on (set before the listeners are added).
void setServerSocket(const std::string &path);
const std::string &serverSocketPath();

// HTTP_STATUS_CONTINUE when the client is an administrator, else the status that refuses it.
http_status_t adminStatus(pappl_client_t *client);
// The same for the client's IPP request: printing, one's own jobs and reading state are open.
http_status_t requestStatus(pappl_client_t *client);

}  // namespace app
