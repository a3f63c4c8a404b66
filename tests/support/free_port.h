// A TCP port on the loopback interface that no one listens on, for a server a test starts.
#pragma once

namespace testsupport {

// A port the system just handed out and took back (another process may still take it first).
int freePort();

}  // namespace testsupport
