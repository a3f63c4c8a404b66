// The emulator as a CUPS backend ("rx5k-emu"): the scheduler runs the real filter chain and
// hands the printer stream to the backend on standard input; the emulated printer answers
// through the back channel and the side channel as a device would.
#pragma once

#include <string>
#include <vector>

namespace emu {

// The backend's device line, printed when it is run without arguments.
inline constexpr const char *kBackendDeviceLine =
    "network rx5k-emu \"Unknown\" \"RX5K printer emulator\"\n";

// True when the program was started as the backend: under the backend's name, or by the
// scheduler, which passes the device URI ("rx5k-emu:/?...") as argv[0].
bool isBackendName(const std::string &argv0);

// Emulator options from a device URI such as "rx5k-emu:/?out=/tmp/x&paper-missing=2&silent":
// each key becomes "--key" followed by its %-decoded value, if any. False on another scheme.
bool backendArgsFromUri(const std::string &uri, std::vector<std::string> &args, std::string &error);

// The backend's folder when the device URI names none (set when configuring the build). Each
// job's files go to its folder job-ID.
inline constexpr const char *kBackendRoot = RX5K_BACKEND_ROOT;

// Runs the backend with its CUPS arguments (argv[0] first). The output goes to the job's folder
// (see OutputFolder::job) under the URI's "out" folder, or under kBackendRoot without one.
// Returns the backend's exit status: CUPS_BACKEND_OK; CUPS_BACKEND_FAILED when the stream could
// not be parsed or its files not written; CUPS_BACKEND_CANCEL when the job went beyond a cap;
// CUPS_BACKEND_STOP when the URI is wrong or the folder cannot be used safely (the queue stops
// until an administrator has looked).
int runBackend(const std::vector<std::string> &argv);

}  // namespace emu
