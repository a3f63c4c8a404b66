// The server's stop, as the jobs see it: PAPPL 1.3 waits up to 60 s for the jobs to end after a
// SIGTERM and tells them nothing, so a job waiting for a ready printer would hold the exit.
#pragma once

namespace app {

// Chains a handler in front of PAPPL's SIGTERM and SIGINT handlers, unless it is there already:
// called on every tick of the running server and at each job's start, as PAPPL installs its own
// when it starts.
void watchServerStop();
// True once the server was told to stop.
bool serverStopping();

// Jobs inside the printing core: the server exits once none is left after a stop.
void jobEntered();
void jobLeft();
// The server was told to stop and no job prints: its state may be saved and the process end.
bool readyToExit();
// A job that starts after the stop waits here for the exit, so that it is saved as processing
// and queued again at the next start (PAPPL starts the next queued job while it waits for the
// jobs to end, and waits up to 60 s for them).
[[noreturn]] void parkUntilExit();

}  // namespace app
