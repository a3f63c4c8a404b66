// rx5k-printer-app: PAPPL's command line and server with the RX5K drivers.
#include <pappl/pappl.h>

#include <vector>

#include "app_system.h"
#include "drivers.h"

int main(int argc, char *argv[]) {
  std::vector<pappl_pr_driver_t> drivers = app::driverList();
  return papplMainloop(argc, argv, RX5K_VERSION, "RX5K printer application",
                       static_cast<int>(drivers.size()), drivers.data(), app::autoAddDriver,
                       app::driverCallback, nullptr, nullptr, app::createSystem, app::printUsage,
                       nullptr);
}
