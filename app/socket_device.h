// Network printers on a raw TCP port, as "rx5k-socket://HOST[:PORT]" (port 9100 by default),
// whose back channel never waits. PAPPL's own socket device waits up to 10 s in every read and
// first sends the output it has buffered, so a job's reads and writes must take turns on it
// (raster_job.cpp): each read of an idle printer would hold the job's output for those 10 s.
#pragma once

namespace app {

inline constexpr const char *kSocketScheme = "rx5k-socket";

void registerSocketScheme();

}  // namespace app
