// What a printer's device may reach. Device URIs name printers: a file: device must be a file in
// the app's own folders, an emulated printer writes only to the preview folder (no out= from a
// client), and a network printer's addresses must lie in the allowed networks (every network but
// loopback by default).
#pragma once

#include <cups/http.h>

#include <string>
#include <vector>

namespace app {

// The app's folders and the printer-networks option ("10.0.0.0/8,192.168.1.7,..."; empty: all
// but loopback). False with the reason for a malformed network list.
bool setDevicePolicy(const std::vector<std::string> &folders, const std::string &networks,
                     std::string &reason);

// True when a printer may use uri; otherwise false with the reason.
bool deviceUriAllowed(const std::string &uri, std::string &reason);

// True when a network printer may be at address.
bool printerAddressAllowed(const http_addr_t &address);

}  // namespace app
