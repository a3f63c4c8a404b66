// Reliability test helpers: the filter run directly with hand-made channels, and the checks of a
// job's end.
#include "reliability_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace reliability {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void closeFd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is there; false at end of file or on error.
bool pump(int fd, std::string &into) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    return false;
  }
}

// The child: descriptors 0 to 4 as the scheduler would hand them, then the filter.
[[noreturn]] void execFilter(const DirectRunOptions &o, int out, int err, int back, int side) {
  int in = open("/dev/null", O_RDONLY);
  int wanted[5] = {in, out, err, back, side};
  // Move the sources above 4 first so that the dup2 calls cannot clobber one another.
  for (int &fd : wanted)
    if (fd >= 0) fd = fcntl(fd, F_DUPFD, 10);
  for (int target = 0; target < 5; target++) {
    if (wanted[target] >= 0)
      dup2(wanted[target], target);
    else
      close(target);
  }
  for (int fd = 5; fd < 1024; fd++) close(fd);
  if (o.addressSpaceLimit) {
    rlimit limit{o.addressSpaceLimit, o.addressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
  }
  setenv("PPD", o.ppd.c_str(), 1);
  for (const std::string &e : o.env) putenv(strdup(e.c_str()));
  std::string path = runtest::filterPath();
  const char *argv[] = {path.c_str(),     "1",    "user", "title", "1", o.jobOptions.c_str(),
                        o.raster.c_str(), nullptr};
  execv(path.c_str(), const_cast<char *const *>(argv));
  _exit(127);
}

}  // namespace

DirectRunResult runDirect(const DirectRunOptions &o) {
  DirectRunResult r;
  int outPipe[2], errPipe[2], backPipe[2] = {-1, -1}, side[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return r;
  if (o.back != BackChannel::None && pipe2(backPipe, O_CLOEXEC) != 0) return r;
  if (o.sideChannel && socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, side) != 0) return r;
  // The scheduler hands filters a non-blocking back channel.
  if (backPipe[0] >= 0) fcntl(backPipe[0], F_SETFL, O_NONBLOCK);
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) execFilter(o, outPipe[1], errPipe[1], backPipe[0], side[1]);
  for (int *childEnd : {&outPipe[1], &errPipe[1], &backPipe[0], &side[1]}) closeFd(*childEnd);
  if (o.back == BackChannel::AtEnd) closeFd(backPipe[1]);
  int out = outPipe[0], err = errPipe[0];
  fcntl(out, F_SETFL, O_NONBLOCK);
  fcntl(err, F_SETFL, O_NONBLOCK);

  bool sigtermSent = false, killed = false;
  int status = 0;
  rusage usage{};
  bool exited = false;
  while (!exited) {
    pollfd fds[2];
    nfds_t n = 0;
    if (out >= 0) fds[n++] = pollfd{out, POLLIN, 0};
    if (err >= 0) fds[n++] = pollfd{err, POLLIN, 0};
    poll(fds, n, 10);
    if (out >= 0) {
      if (!pump(out, r.out)) closeFd(out);
      if (o.closeOutputAfter >= 0 && r.out.size() >= static_cast<size_t>(o.closeOutputAfter) &&
          out >= 0) {
        // The backend goes away: further writes fail with EPIPE.
        closeFd(out);
      }
    }
    if (err >= 0 && !pump(err, r.err)) closeFd(err);
    double t = secondsSince(start);
    if (o.sigtermAfterMs >= 0 && !sigtermSent && t * 1000 >= o.sigtermAfterMs) {
      kill(pid, SIGTERM);
      sigtermSent = true;
    }
    if (t > o.timeoutSeconds && !killed) killed = kill(pid, SIGKILL) == 0;
    r.maxRssKb = std::max(r.maxRssKb, runtest::peakResidentKiB(pid));
    exited = wait4(pid, &status, WNOHANG, &usage) == pid;
  }
  r.seconds = secondsSince(start);
  // Collect what is left in the pipes (their writers are gone).
  if (out >= 0) fcntl(out, F_SETFL, 0), pump(out, r.out);
  if (err >= 0) fcntl(err, F_SETFL, 0), pump(err, r.err);
  for (int *fd : {&out, &err, &backPipe[1], &side[0]}) closeFd(*fd);
  if (WIFEXITED(status)) r.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  auto seconds = [](const timeval &tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
  };
  r.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return r;
}

std::string sanitizerReport(const std::string &err) {
  for (const char *marker : {"runtime error:", "AddressSanitizer", "LeakSanitizer",
                             "ThreadSanitizer", "UndefinedBehaviorSanitizer"}) {
    size_t at = err.find(marker);
    if (at != std::string::npos) return err.substr(at > 200 ? at - 200 : 0, 2000);
  }
  return "";
}

std::string endProblem(const std::string &err) {
  if (std::string report = sanitizerReport(err); !report.empty()) return report;
  if (err.find("INFO: Printed data has been sent\n") == std::string::npos) return "no trailer";
  return err.find("INFO:\n") == std::string::npos ? "no closing INFO: line" : "";
}

}  // namespace reliability
