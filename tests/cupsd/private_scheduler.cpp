// The private scheduler: configuration files, ServerBin, process control and client commands.
#include "private_scheduler.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

CommandResult runCommand(const std::string &command) {
  CommandResult r;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string shellQuote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

namespace {

// A loopback port nobody listens on right now.
int freeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string readFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void link(const fs::path &target, const fs::path &name) {
  std::error_code ec;
  if (fs::exists(target)) fs::create_symlink(target, name, ec);
}

void copyProgram(const fs::path &from, const fs::path &to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  chmod(to.c_str(), 0755);
}

}  // namespace

PrivateScheduler::PrivateScheduler(const std::string &name) {
  // As root the filters and the backend run as lp, which must reach every file they use: a
  // folder under /tmp is reachable wherever the build tree lies.
  dir_ = geteuid() == 0
             ? fs::temp_directory_path() / ("rx5k-cupsd-" + name + "-" + std::to_string(getpid()))
             : fs::path(RX5K_BUILD_DIR) / "test-cupsd" / name;
  fs::remove_all(dir_);
  for (const char *d :
       {"conf", "bin/filter", "bin/backend", "spool/tmp", "state", "cache", "log"}) {
    fs::create_directories(dir_ / d);
  }
  chmod(dir_.c_str(), 0755);
  port_ = freeLoopbackPort();
  server_ = "127.0.0.1:" + std::to_string(port_);
  buildServerBin();
  writeConfiguration();
}

void PrivateScheduler::discard() {
  stop();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

PrivateScheduler::~PrivateScheduler() {
  stop();
}

void PrivateScheduler::buildServerBin() {
  const fs::path bin = dir_ / "bin";
  fs::path serverbin = "/usr/lib/cups";
  if (std::string out = runCommand("cups-config --serverbin").output; !out.empty()) {
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    serverbin = out;
  }
  // The scheduler may choose either rasterizer for a PPD that asks for RGB raster.
  for (const char *f : {"pdftopdf", "pdftoraster", "gstoraster"}) {
    link(serverbin / "filter" / f, bin / "filter" / f);
  }
  for (const char *d : {"cgi-bin", "daemon", "notifier", "monitor"}) link(serverbin / d, bin / d);
  // Copies, not links: the scheduler checks the programs it runs as they are installed (owned
  // by root, not writable by others when it runs as root).
  copyProgram(fs::path(RX5K_BIN_DIR) / "rastertoRX5K", bin / "filter" / "rastertoRX5K");
  // Installed under this name, the emulator runs as a backend.
  copyProgram(fs::path(RX5K_BIN_DIR) / "rx5k-emulator", bin / "backend" / "rx5k-emu");
}

void PrivateScheduler::writeConfiguration() {
  std::ofstream conf(dir_ / "conf" / "cupsd.conf");
  conf << "Listen " << server_ << "\n"
       << "LogLevel debug\n"
       << "MaxLogSize 0\n"
       << "Browsing No\n"
       << "WebInterface No\n"
       << "DefaultPolicy open\n"
       << "JobRetryLimit 0\n"
       << "<Location />\n  Order allow,deny\n  Allow from 127.0.0.1\n</Location>\n"
       << "<Policy open>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

  std::ofstream files(dir_ / "conf" / "cups-files.conf");
  files << "ServerRoot " << (dir_ / "conf").string() << "\n"
        << "ServerBin " << (dir_ / "bin").string() << "\n"
        << "DataDir " << runCommand("cups-config --datadir").output  // ends with a line feed
        << "RequestRoot " << (dir_ / "spool").string() << "\n"
        << "TempDir " << (dir_ / "spool" / "tmp").string() << "\n"
        << "StateDir " << (dir_ / "state").string() << "\n"
        << "CacheDir " << (dir_ / "cache").string() << "\n"
        << "ErrorLog " << (dir_ / "log" / "error_log").string() << "\n"
        << "AccessLog " << (dir_ / "log" / "access_log").string() << "\n"
        << "PageLog " << (dir_ / "log" / "page_log").string() << "\n";
  // As root, cupsd runs filters and a 0755 backend as the unprivileged User; it will not run
  // them as root. The test folders they write to are made writable for that user.
  if (geteuid() == 0) files << "User lp\nGroup lp\nSystemGroup root\n";
}

bool PrivateScheduler::start(std::string &error) {
  if (port_ == 0) {
    error = "no free loopback port";
    return false;
  }
  pid_ = fork();
  if (pid_ < 0) {
    error = "fork failed";
    return false;
  }
  if (pid_ == 0) {
    // The scheduler must not outlive a test that is killed (ctest time-out, crash).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int fd = open((dir_ / "log" / "cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    const std::string conf = (dir_ / "conf" / "cupsd.conf").string();
    const std::string files = (dir_ / "conf" / "cups-files.conf").string();
    execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "cupsd exited at start (is cups-daemon installed?): " +
              readFile(dir_ / "log" / "cupsd.out") + errorLog();
      return false;
    }
    if (accepts(port_)) {
      setenv("CUPS_SERVER", server_.c_str(), 1);
      cupsSetServer(server_.c_str());
      return true;
    }
    std::this_thread::sleep_for(100ms);
  }
  error = "cupsd did not listen on " + server_ + " within 20 s";
  stop();
  return false;
}

void PrivateScheduler::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; i++) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(100ms);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

CommandResult PrivateScheduler::client(const std::string &args) const {
  return runCommand("CUPS_SERVER=" + server_ + " " + args);
}

bool PrivateScheduler::addPrinter(const std::string &name, const fs::path &ppd,
                                  const std::string &uri, std::string &error) const {
  // "-E" after "-p" enables the printer and accepts jobs.
  CommandResult r = client("lpadmin -p " + shellQuote(name) + " -E -v " + shellQuote(uri) + " -P " +
                           shellQuote(ppd.string()));
  if (r.status != 0) error = "lpadmin: " + r.output;
  return r.status == 0;
}

int PrivateScheduler::print(const std::string &printer, const fs::path &file,
                            const std::string &options, std::string &error) const {
  std::string cmd = "lp -d " + shellQuote(printer);
  std::istringstream words(options);
  for (std::string o; words >> o;) cmd += " -o " + shellQuote(o);
  CommandResult r = client(cmd + " " + shellQuote(file.string()));
  // "request id is PRINTER-ID (1 file(s))"
  const std::string marker = "request id is ";
  const size_t at = r.output.find(marker);
  if (r.status == 0 && at != std::string::npos) {
    const size_t end = r.output.find_first_of(" \n", at + marker.size());
    const std::string id = r.output.substr(at + marker.size(), end - at - marker.size());
    const size_t dash = id.rfind('-');
    if (dash != std::string::npos) {
      const int job = std::atoi(id.c_str() + dash + 1);
      if (job > 0) return job;
    }
  }
  error = "lp: " + r.output;
  return 0;
}

bool PrivateScheduler::cancel(int job, std::string &error) const {
  CommandResult r = client("cancel " + std::to_string(job));
  if (r.status != 0) error = "cancel: " + r.output;
  return r.status == 0;
}

bool PrivateScheduler::waitForIdleQueue(const std::string &printer,
                                        std::chrono::seconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    CommandResult r = client("lpstat -W not-completed -o " + shellQuote(printer));
    if (r.status == 0 && r.output.find_first_not_of(" \n") == std::string::npos) return true;
    std::this_thread::sleep_for(250ms);
  }
  return false;
}

int PrivateScheduler::jobState(int job) const {
  http_t *http =
      httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (!http) return 0;
  cups_job_t *jobs = nullptr;
  const int n = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
  int state = 0;
  for (int i = 0; i < n; i++) {
    if (jobs[i].id == job) state = jobs[i].state;
  }
  cupsFreeJobs(n, jobs);
  httpClose(http);
  return state;
}

std::string PrivateScheduler::errorLog() const {
  return readFile(dir_ / "log" / "error_log");
}

std::string PrivateScheduler::jobLog(int job) const {
  const std::string tag = "[Job " + std::to_string(job) + "] ";
  std::istringstream in(errorLog());
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find(tag) != std::string::npos) lines += line + "\n";
  }
  return lines;
}

bool PrivateScheduler::waitForJobLog(int job, const std::string &text, std::chrono::seconds limit,
                                     const std::string &after) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string log = jobLog(job);
    const size_t from = after.empty() ? 0 : log.find(after);
    if (from != std::string::npos && log.find(text, from) != std::string::npos) return true;
    std::this_thread::sleep_for(200ms);
  }
  return false;
}
