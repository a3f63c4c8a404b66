// rx5k-printer-app: PAPPL's command line and server with the RX5K drivers.
#include <pappl/pappl.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "access.h"
#include "app_system.h"
#include "drivers.h"
#include "emulator_device.h"
#include "pappl_overrides.h"
#include "socket_device.h"

namespace {

// A client command reaches the server of the state folder its -o state-directory=DIR names (the
// user's default one without it); the option is the program's, not PAPPL's.
void findServerSocket(std::vector<char *> &args) {
  const char *prefix = "state-directory=";
  std::string state = app::defaultStateDirectory();
  const bool server = args.size() > 1 && std::strcmp(args[1], "server") == 0;
  for (size_t i = 1; !server && i + 1 < args.size(); i++) {
    if (std::strcmp(args[i], "-o") == 0 && std::strncmp(args[i + 1], prefix, 16) == 0) {
      state = args[i + 1] + 16;
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      i--;
    }
  }
  if (server) return;
  app::setClientSocket(app::localSocketPath(state));
  // A server asking for a password gets the first line of the standard input when that is no
  // terminal (scripts; the user name is CUPS_USER's or the login's). submit may read its
  // document there.
  if (!isatty(0) && args.size() > 1 && std::strcmp(args[1], "submit") != 0)
    cupsSetPasswordCB2(
        [](const char *, http_t *, const char *, const char *, void *) -> const char * {
          static char line[256];
          if (!std::fgets(line, sizeof line, stdin)) return nullptr;
          line[std::strcspn(line, "\r\n")] = '\0';
          return line;
        },
        nullptr);
  // "devices" lists in the command's own process: the app's schemes too.
  app::registerEmulatorScheme(state + "/previews");
  app::registerSocketScheme();
}

// PAPPL's commands send a printer's requests to the -u URI itself: with the server's URI and
// -d NAME they go to the printer's URI instead (add and default name the server's printers).
void printerUriForName(std::vector<char *> &args, std::string &storage) {
  if (args.size() < 2 || std::strcmp(args[1], "add") == 0 || std::strcmp(args[1], "default") == 0)
    return;
  char **uri = nullptr;
  const char *name = nullptr;
  for (size_t i = 2; i + 1 < args.size(); i++) {
    if (std::strcmp(args[i], "-u") == 0) uri = &args[i + 1];
    if (std::strcmp(args[i], "-d") == 0) name = args[i + 1];
  }
  if (!uri || !name) return;
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, *uri, scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
      std::strcmp(resource, "/ipp/system") != 0)
    return;
  // The characters PAPPL replaces in a printer's resource path.
  std::string path = std::string("/ipp/print/") + name;
  for (size_t i = 11; i < path.size(); i++)
    if (static_cast<unsigned char>(path[i]) <= ' ' || std::strchr("\x7f/\\'\"?#", path[i]))
      path[i] = '_';
  char assembled[2048];
  if (httpAssembleURI(HTTP_URI_CODING_ALL, assembled, sizeof assembled, scheme, user, host, port,
                      path.c_str()) < HTTP_URI_STATUS_OK)
    return;
  storage = assembled;
  *uri = storage.data();
}

}  // namespace

int main(int argc, char *argv[]) {
  std::vector<char *> args(argv, argv + argc);
  findServerSocket(args);
  std::string printerUri;
  printerUriForName(args, printerUri);
  args.push_back(nullptr);
  std::vector<pappl_pr_driver_t> drivers = app::driverList();
  return papplMainloop(static_cast<int>(args.size()) - 1, args.data(), RX5K_VERSION,
                       "RX5K printer application", static_cast<int>(drivers.size()), drivers.data(),
                       app::autoAddDriver, app::driverCallback, nullptr, nullptr, app::createSystem,
                       app::printUsage, nullptr);
}
