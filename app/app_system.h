// The PAPPL system of the printer application: its folders, listeners, log, state and drivers,
// from the server's -o options.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace app {

inline constexpr const char *kAppName = "rx5k-printer-app";

// PAPPL's system callback. Options (besides PAPPL's own server options):
//   state-directory=DIR  printers and settings, kept across restarts (default: root
//                        /var/lib/rx5k-printer-app, else $XDG_STATE_HOME/rx5k-printer-app or
//                        ~/.local/state/rx5k-printer-app)
//   spool-directory=DIR  job files (default DIR/spool of the state directory)
//   preview-directory=DIR  the emulated printers' job folders (default DIR/previews of the
//                        state directory)
pappl_system_t *createSystem(int numOptions, cups_option_t *options, void *context);

// The state folder when no state-directory option names one.
std::string defaultStateDirectory();

// The program's usage text (PAPPL's sub-commands and the options above).
void printUsage(void *context);

}  // namespace app
