// The server's state on disk: PAPPL's state file, kept current as printers and settings change
// (written whole to a new file, then renamed over the old one), and beside it the printer
// defaults PAPPL's state file leaves out. A job that a crash left processing is queued again.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace app {

// Loads the state from stateFile (and its side file) into system and keeps saving it.
void loadAndKeepState(pappl_system_t *system, const std::string &stateFile);

}  // namespace app
