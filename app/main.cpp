// rx5k-printer-app: PAPPL's command line and server with the RX5K drivers.
#include <pappl/pappl.h>

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
  // "devices" lists in the command's own process: the app's schemes too.
  app::registerEmulatorScheme(state + "/previews");
  app::registerSocketScheme();
}

}  // namespace

int main(int argc, char *argv[]) {
  std::vector<char *> args(argv, argv + argc);
  findServerSocket(args);
  args.push_back(nullptr);
  std::vector<pappl_pr_driver_t> drivers = app::driverList();
  return papplMainloop(static_cast<int>(args.size()) - 1, args.data(), RX5K_VERSION,
                       "RX5K printer application", static_cast<int>(drivers.size()), drivers.data(),
                       app::autoAddDriver, app::driverCallback, nullptr, nullptr, app::createSystem,
                       app::printUsage, nullptr);
}
