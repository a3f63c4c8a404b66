// The filter process and its descriptors, driven by one poll loop. Drain requests are answered
// only after everything pending on the filter's standard output has been parsed, so a status
// query written before a drain is always answered before the drain completes.
#include "filter_harness.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char **environ;

namespace emu {

namespace {

void setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void closeFd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Writes as much of pending as the descriptor takes now; false when the reader has gone.
bool writePending(int fd, std::string &pending) {
  while (!pending.empty()) {
    ssize_t n = write(fd, pending.data(), pending.size());
    if (n > 0) {
      pending.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

std::vector<std::string> childEnvironment(const std::vector<std::string> &extra) {
  std::vector<std::string> env;
  for (char **e = environ; e && *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string &x : extra) replaced |= x.substr(0, x.find('=')) == name;
    if (!replaced) env.push_back(entry);
  }
  // A later setting of the same name wins (options given by hand override the defaults).
  for (const std::string &x : extra) {
    std::string name = x.substr(0, x.find('=') + 1);
    auto same = [&name](const std::string &e) { return e.compare(0, name.size(), name) == 0; };
    env.erase(std::remove_if(env.begin(), env.end(), same), env.end());
    env.push_back(x);
  }
  return env;
}

std::vector<char *> cStrings(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (std::string &s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The descriptors of one run. Parent ends stay here; child ends are closed after the fork.
struct Pipes {
  int stdinRead = -1, stdinWrite = -1;
  int stdoutRead = -1, stdoutWrite = -1;
  int stderrRead = -1, stderrWrite = -1;
  int backRead = -1, backWrite = -1;
  int sideParent = -1, sideChild = -1;
  ~Pipes() {
    for (int *fd : {&stdinRead, &stdinWrite, &stdoutRead, &stdoutWrite, &stderrRead, &stderrWrite,
                    &backRead, &backWrite, &sideParent, &sideChild}) {
      closeFd(*fd);
    }
  }
  bool create(bool pipedStdin, bool smallOutput, std::string &error) {
    int p[2];
    auto makePipe = [&](int &r, int &w) {
      if (pipe2(p, O_CLOEXEC) != 0) return false;
      r = p[0];
      w = p[1];
      return true;
    };
    int s[2];
    bool ok = (!pipedStdin || makePipe(stdinRead, stdinWrite)) &&
              makePipe(stdoutRead, stdoutWrite) && makePipe(stderrRead, stderrWrite) &&
              makePipe(backRead, backWrite) &&
              socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, s) == 0;
    if (!ok) {
      error = std::string("cannot create the filter's descriptors: ") + std::strerror(errno);
      return false;
    }
    sideParent = s[0];
    sideChild = s[1];
    if (smallOutput) fcntl(stdoutRead, F_SETPIPE_SZ, 4096);
    // As the scheduler does: the filter's back and side channel ends are non-blocking.
    setNonBlocking(backRead);
    setNonBlocking(sideChild);
    for (int fd : {stdinWrite, stdoutRead, stderrRead, backWrite, sideParent}) {
      if (fd >= 0) setNonBlocking(fd);
    }
    return true;
  }
};

// In the child: descriptors 0 to 4 as the scheduler sets them, nothing else open.
[[noreturn]] void execFilter(const Pipes &pipes, const char *path, char **argv, char **envp) {
  int wanted[5] = {pipes.stdinRead, pipes.stdoutWrite, pipes.stderrWrite, pipes.backRead,
                   pipes.sideChild};
  int moved[5];
  // Move everything above 4 first, so no dup2 below overwrites a descriptor still needed.
  for (int i = 0; i < 5; ++i) moved[i] = wanted[i] >= 0 ? fcntl(wanted[i], F_DUPFD, 10) : -1;
  for (int i = 0; i < 5; ++i) {
    if (moved[i] >= 0) dup2(moved[i], i);
  }
  close_range(5, ~0U, 0);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGCHLD}) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(path, argv, envp);
  _exit(127);
}

class Run {
 public:
  Run(const FilterCommand &command, EmulatedPrinter &printer)
      : command_(command), printer_(printer), start_(std::chrono::steady_clock::now()) {}

  FilterOutcome go();

 private:
  double now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  void sendSignal(int sig, const char *why);
  void pumpStdout();
  void pumpStderr();
  void pumpSide();
  void answerSide(unsigned char command, const std::string &data);
  void feedStdin();
  void reap(bool block);
  int pollTimeoutMs() const;

  const FilterCommand &command_;
  EmulatedPrinter &printer_;
  std::chrono::steady_clock::time_point start_;
  Pipes pipes_;
  pid_t pid_ = -1;
  bool exited_ = false;
  FilterOutcome outcome_;
  std::string backPending_, sidePending_, sideIn_, stdinPending_;
  int stdinSource_ = -1;
  std::FILE *stderrCopy_ = nullptr;
  double exitedAt_ = 0;
  long long received_ = 0;  // bytes of the printer stream
};

void Run::sendSignal(int sig, const char *why) {
  if (exited_) return;
  kill(pid_, sig);
  printer_.note(now(), std::string(sig == SIGTERM ? "SIGTERM" : "SIGKILL") + " sent to the " +
                           "filter (" + why + ")");
}

void Run::pumpStdout() {
  unsigned char buf[65536];
  while (pipes_.stdoutRead >= 0) {
    // Up to the signal's byte exactly, so that it goes as that byte arrives.
    size_t want = sizeof buf;
    const long long toSignal = command_.sigtermAtByte - received_;
    if (toSignal > 0 && !outcome_.sigtermSent) want = std::min(want, static_cast<size_t>(toSignal));
    ssize_t n = read(pipes_.stdoutRead, buf, want);
    if (n > 0) {
      printer_.receive(buf, static_cast<size_t>(n), now());
      received_ += n;
      if (command_.sigtermAtByte > 0 && received_ >= command_.sigtermAtByte &&
          !outcome_.sigtermSent) {
        outcome_.sigtermSent = true;
        sendSignal(SIGTERM, ("byte " + std::to_string(received_) + " arrived").c_str());
      }
      if (printer_.stopped()) closeFd(pipes_.stdoutRead);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closeFd(pipes_.stdoutRead);
      return;
    }
  }
}

void Run::pumpStderr() {
  char buf[8192];
  while (pipes_.stderrRead >= 0) {
    ssize_t n = read(pipes_.stderrRead, buf, sizeof buf);
    if (n > 0) {
      if (stderrCopy_) std::fwrite(buf, 1, static_cast<size_t>(n), stderrCopy_);
      if (command_.echoStderr) std::fwrite(buf, 1, static_cast<size_t>(n), stderr);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closeFd(pipes_.stderrRead);
      if (stderrCopy_) std::fflush(stderrCopy_);
      return;
    }
  }
}

void Run::answerSide(unsigned char command, const std::string &data) {
  std::string answer;
  if (command == CUPS_SC_CMD_DRAIN_OUTPUT) {
    printer_.drain(now());
    answer = {static_cast<char>(command), static_cast<char>(CUPS_SC_STATUS_OK), 0, 0};
  } else {
    std::string reply;
    cups_sc_status_t status = CUPS_SC_STATUS_OK;
    if (command == CUPS_SC_CMD_GET_BIDI) {
      reply = std::string(1, static_cast<char>(CUPS_SC_BIDI_SUPPORTED));
    } else if (command == CUPS_SC_CMD_GET_STATE) {
      reply = std::string(1, static_cast<char>(CUPS_SC_STATE_ONLINE));
    } else if (command == CUPS_SC_CMD_GET_CONNECTED) {
      reply = std::string(1, '\1');
    } else {
      status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
    }
    printer_.note(now(), "side-channel request " + std::to_string(command) + " with " +
                             std::to_string(data.size()) + " data bytes, status " +
                             std::to_string(status));
    answer = {static_cast<char>(command), static_cast<char>(status),
              static_cast<char>(reply.size() >> 8), static_cast<char>(reply.size() & 0xFF)};
    answer += reply;
  }
  sidePending_ += answer;
  if (!writePending(pipes_.sideParent, sidePending_)) sidePending_.clear();
}

void Run::pumpSide() {
  // Everything the filter wrote before this request is in the pipe by now: parse it first.
  pumpStdout();
  char buf[4096];
  while (pipes_.sideParent >= 0) {
    ssize_t n = read(pipes_.sideParent, buf, sizeof buf);
    if (n > 0) {
      sideIn_.append(buf, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closeFd(pipes_.sideParent);
      break;
    }
  }
  // Requests: command, status, 2-byte big-endian length, data.
  while (sideIn_.size() >= 4) {
    size_t length = static_cast<size_t>(static_cast<unsigned char>(sideIn_[2])) << 8 |
                    static_cast<unsigned char>(sideIn_[3]);
    if (sideIn_.size() < 4 + length) break;
    answerSide(static_cast<unsigned char>(sideIn_[0]), sideIn_.substr(4, length));
    sideIn_.erase(0, 4 + length);
  }
}

void Run::feedStdin() {
  while (pipes_.stdinWrite >= 0) {
    if (stdinPending_.empty() && stdinSource_ >= 0) {
      char buf[65536];
      ssize_t n = read(stdinSource_, buf, sizeof buf);
      if (n > 0) {
        stdinPending_.assign(buf, static_cast<size_t>(n));
      } else {
        closeFd(stdinSource_);
      }
    }
    if (stdinPending_.empty()) {
      closeFd(pipes_.stdinWrite);  // end of the raster
      return;
    }
    if (!writePending(pipes_.stdinWrite, stdinPending_)) {
      closeFd(pipes_.stdinWrite);  // the filter stopped reading
      return;
    }
    if (!stdinPending_.empty()) return;  // the pipe is full: wait until poll says writable
  }
}

void Run::reap(bool block) {
  if (exited_) return;
  int status = 0;
  pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (r != pid_) return;
  exited_ = true;
  exitedAt_ = now();
  if (WIFEXITED(status)) {
    outcome_.exitStatus = WEXITSTATUS(status);
    printer_.note(exitedAt_, "filter exited with status " + std::to_string(outcome_.exitStatus));
  } else if (WIFSIGNALED(status)) {
    outcome_.signal = WTERMSIG(status);
    printer_.note(exitedAt_, "filter ended by signal " + std::to_string(outcome_.signal) + " (" +
                                 strsignal(outcome_.signal) + ")");
  }
}

int Run::pollTimeoutMs() const {
  double t = now();
  double wake = t + 0.05;  // the filter's exit is noticed within this
  double due = printer_.nextWakeup();
  if (due >= 0 && due < wake) wake = due;
  if (command_.sigtermAfterMs >= 0 && !outcome_.sigtermSent) {
    wake = std::min(wake, command_.sigtermAfterMs / 1000.0);
  }
  if (command_.timeoutSeconds > 0) wake = std::min(wake, command_.timeoutSeconds);
  double ms = (wake - t) * 1000.0;
  return ms <= 0 ? 0 : static_cast<int>(ms) + 1;
}

FilterOutcome Run::go() {
  // A filter that stops reading its input must not kill the emulator.
  signal(SIGPIPE, SIG_IGN);
  if (access(command_.path.c_str(), X_OK) != 0) {
    outcome_.error = "cannot run the filter " + command_.path + ": " + std::strerror(errno);
    return outcome_;
  }
  bool pipedStdin = !command_.stdinFile.empty();
  if (pipedStdin) {
    stdinSource_ = open(command_.stdinFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (stdinSource_ < 0) {
      outcome_.error = "cannot open " + command_.stdinFile + ": " + std::strerror(errno);
      return outcome_;
    }
  }
  if (!pipes_.create(pipedStdin, command_.sigtermAtByte > 0, outcome_.error)) {
    closeFd(stdinSource_);
    return outcome_;
  }
  stderrCopy_ = command_.stderrCopy;

  std::vector<std::string> argvStrings = command_.argv;
  std::vector<std::string> envStrings = childEnvironment(command_.env);
  std::vector<char *> argv = cStrings(argvStrings);
  std::vector<char *> envp = cStrings(envStrings);
  std::fflush(nullptr);
  start_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ < 0) {
    outcome_.error = std::string("cannot fork: ") + std::strerror(errno);
    closeFd(stdinSource_);
    return outcome_;
  }
  if (pid_ == 0) execFilter(pipes_, command_.path.c_str(), argv.data(), envp.data());
  outcome_.started = true;
  for (int *fd : {&pipes_.stdinRead, &pipes_.stdoutWrite, &pipes_.stderrWrite, &pipes_.backRead,
                  &pipes_.sideChild}) {
    closeFd(*fd);
  }

  printer_.sendReport = [this](const std::string &bytes) {
    if (pipes_.backWrite < 0) return;
    backPending_ += bytes;
    if (!writePending(pipes_.backWrite, backPending_)) {
      backPending_.clear();
      closeFd(pipes_.backWrite);
    }
  };
  printer_.pageStarted = [this](int page) {
    if (page == command_.sigtermAtPage && !outcome_.sigtermSent) {
      outcome_.sigtermSent = true;
      sendSignal(SIGTERM, ("page " + std::to_string(page) + " started").c_str());
    }
  };
  feedStdin();

  for (;;) {
    std::vector<pollfd> fds;
    auto watch = [&](int fd, short events) {
      if (fd >= 0) fds.push_back(pollfd{fd, events, 0});
    };
    watch(pipes_.stdoutRead, POLLIN);
    watch(pipes_.stderrRead, POLLIN);
    watch(pipes_.sideParent, static_cast<short>(POLLIN | (sidePending_.empty() ? 0 : POLLOUT)));
    if (!backPending_.empty()) watch(pipes_.backWrite, POLLOUT);
    watch(pipes_.stdinWrite, POLLOUT);
    int ready = poll(fds.data(), fds.size(), pollTimeoutMs());
    if (ready < 0 && errno != EINTR) break;

    pumpStdout();
    pumpStderr();
    if (pipes_.sideParent >= 0) {
      pumpSide();
      if (pipes_.sideParent >= 0 && !writePending(pipes_.sideParent, sidePending_)) {
        sidePending_.clear();
      }
    }
    if (pipes_.backWrite >= 0 && !writePending(pipes_.backWrite, backPending_)) {
      backPending_.clear();
      closeFd(pipes_.backWrite);
    }
    feedStdin();

    double t = now();
    printer_.tick(t);
    if (command_.sigtermAfterMs >= 0 && !outcome_.sigtermSent &&
        t * 1000.0 >= command_.sigtermAfterMs) {
      outcome_.sigtermSent = true;
      sendSignal(SIGTERM, (std::to_string(command_.sigtermAfterMs) + " ms").c_str());
    }
    if (command_.timeoutSeconds > 0 && t >= command_.timeoutSeconds && !outcome_.timedOut &&
        !exited_) {
      outcome_.timedOut = true;
      sendSignal(SIGKILL, "time limit");
    }

    reap(false);
    bool drained = pipes_.stdoutRead < 0 && pipes_.stderrRead < 0;
    // A descendant of the filter may hold its pipes open: give up on them a while after exit.
    if (exited_ && (drained || t - exitedAt_ > 2.0)) break;
  }
  reap(true);
  pumpStdout();
  pumpStderr();
  if (stderrCopy_) std::fflush(stderrCopy_);
  closeFd(stdinSource_);
  outcome_.seconds = now();
  return outcome_;
}

}  // namespace

FilterOutcome runFilterUnderPrinter(const FilterCommand &command, EmulatedPrinter &printer) {
  Run run(command, printer);
  FilterOutcome outcome = run.go();
  printer.sendReport = nullptr;
  printer.pageStarted = nullptr;
  return outcome;
}

int emulatorExitStatus(const FilterOutcome &outcome, const EmulatedPrinter &printer) {
  if (!outcome.started) return kExitUsage;
  if (outcome.timedOut) return kExitTimeout;
  if (printer.stopped()) return kExitStopped;
  if (!printer.streamOk()) return kExitStreamError;
  if (outcome.signal) return kExitSignalBase + outcome.signal;
  return outcome.exitStatus;
}

}  // namespace emu
