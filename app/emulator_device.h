// The printer emulator as a PAPPL device scheme: "rx5k-emu:/?paper-missing=2&out=DIR" takes
// the options of the emulator's backend, plays the printer behind a virtual device (status
// answers on the back channel, the printer script) and writes each job's command log, raw stream
// and PNG previews to DIR/job-ID, as the backend does (DIR/latest is the newest). Without "out"
// each printer's jobs go to a folder of its own under the app's preview folder.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace app {

inline constexpr const char *kEmulatorScheme = "rx5k-emu";

// Registers the scheme. Job folders go under defaultOut when the URI names no folder.
void registerEmulatorScheme(const std::string &defaultOut);

// Session calls on a device; each does nothing when device is not an emulated printer.
// The job about to print, and its printer: the emulated printer plays the printer's model,
// never one kept by device URI (several printers may share one).
struct EmulatorJob {
  std::string printer;  // as a folder name
  int id = 0;
  int model = -1;
  std::string modelName;
};
void setEmulatorJob(pappl_device_t *device, const EmulatorJob &job);
// The job's end: the emulated printer decodes the rest of its stream and the job's folder is
// complete. False (the device's fault set) when the stream was no printable job.
bool endEmulatorJob(pappl_device_t *device);
// Everything written and flushed so far has reached the printer: it may end a pending page.
void drainEmulator(pappl_device_t *device);

}  // namespace app
