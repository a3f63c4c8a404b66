// The printer application as the tests start it: a server in a scratch folder on a free port,
// printers on emulated devices that write their jobs there, and IPP requests to it. Shared by
// the tests of the application and those of a scheduler that prints through it.
#pragma once

#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "page_png.h"
#include "support/command.h"
#include "support/run_filter.h"

namespace apptest {

using runtest::readFile;

// A TCP port on the loopback interface that the system just handed out and took back, for a server
// a test starts (another process may still take it first).
inline int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
  close(fd);
  return ok ? ntohs(address.sin_port) : 0;
}

// Replaces the (forked) process with the program (args[0] a path).
[[noreturn]] inline void exec(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Runs a program (args[0] a path) and returns its exit status.
inline int run(std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid == 0) exec(std::move(args));
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Waits up to seconds for done(), asking every 100 ms.
inline bool waitUntil(double seconds, const std::function<bool()> &done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// Sends sig to the process; true when it has exited within seconds (it is killed after them).
inline bool stopProcess(pid_t pid, int sig, double seconds) {
  kill(pid, sig);
  const bool exited = waitUntil(seconds, [&] { return waitpid(pid, nullptr, WNOHANG) == pid; });
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return exited;
}

// A local account with a password (in the group, if any), removed at the end.
class TemporaryUser {
 public:
  TemporaryUser(std::string name, const std::string &group) : name_(std::move(name)) {
    std::vector<std::string> add = {"/usr/sbin/useradd", "-M", "-N", "-s", "/usr/sbin/nologin"};
    if (!group.empty()) add.insert(add.end(), {"-G", group});
    add.push_back(name_);
    ok_ = run(add) == 0 &&
          run({"/bin/sh", "-c", "echo \"$0:$1\" | chpasswd", name_, password()}) == 0;
  }
  ~TemporaryUser() { run({"/usr/sbin/userdel", name_}); }
  bool ok() const { return ok_; }
  const std::string &name() const { return name_; }
  std::string credentials() const { return name_ + ":" + password(); }
  std::string password() const { return "Pw-" + name_ + "-7"; }

 private:
  std::string name_;
  bool ok_ = false;
};

// Writes the gray image as a PNG file; its path.
inline std::string pngFile(const std::string &path, const emu::GrayImage &image) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  std::string error;
  EXPECT_TRUE(file && emu::writeGrayPng(file, image, error)) << path << " " << error;
  if (file) std::fclose(file);
  return path;
}

// The one page the emulator decoded into dir (an empty image, and a failure, otherwise).
inline emu::GrayImage onlyPage(const std::filesystem::path &dir) {
  std::vector<std::filesystem::path> pngs;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".png") pngs.push_back(e.path());
  emu::GrayImage img;
  std::string error;
  EXPECT_TRUE(pngs.size() == 1 && emu::readGrayPng(pngs[0], img, error))
      << pngs.size() << " pages in " << dir << " " << error;
  return img;
}

// The share of black dots of the image in the box of dots [x0, x1) x [y0, y1) (-1 when empty).
inline double blackShare(const emu::GrayImage &img, int x0, int y0, int x1, int y1) {
  x0 = std::max(0, x0), y0 = std::max(0, y0);
  x1 = std::min(img.width, x1), y1 = std::min(img.height, y1);
  if (x1 <= x0 || y1 <= y0) return -1;
  long black = 0;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) black += img.dots[static_cast<size_t>(y) * img.width + x] < 128;
  return static_cast<double>(black) / ((x1 - x0) * static_cast<double>(y1 - y0));
}

// A server in a scratch folder on a free port, stopped at the end (the folder is removed unless
// the test failed). Its emulated printers write their jobs to the folder: FOLDER/PRINTER/job-ID.
class AppServer {
 public:
  // options: more server options; wrapper: a command that runs the server (e.g. in a network
  // namespace).
  explicit AppServer(std::vector<std::string> options = {}, std::vector<std::string> wrapper = {}) {
    // Sanitizer builds: PAPPL's own findings aside (slow unwinding finds its leaks in its main
    // loop), for the server and the commands.
    for (const auto &[name, file] : {std::pair{"LSAN_OPTIONS", "lsan.supp:fast_unwind_on_malloc=0"},
                                     std::pair{"TSAN_OPTIONS", "tsan.supp"}}) {
      const char *before = std::getenv(name);
      const std::string value = (before ? std::string(before) + ":" : "") +
                                "suppressions=" RX5K_SOURCE_DIR "/tests/app/" + file;
      setenv(name, value.c_str(), 1);
    }
    char pattern[] = "/tmp/rx5k-app-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    port_ = freePort();
    options_ = std::move(options);
    wrapper_ = std::move(wrapper);
    start();
  }
  // Starts the server on the folder and port it had.
  void start() {
    pid_ = fork();
    if (pid_ == 0) {
      // Sanitizer reports of the server land here (its log has a file of its own).
      const int err = open((dir_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(err, 2);
      std::vector<std::string> args = {kApp, "server",
                                       "-o", "state-directory=" + dir_,
                                       "-o", "preview-directory=" + dir_,
                                       "-o", "server-port=" + std::to_string(port_),
                                       "-o", "log-level=debug"};
      for (const std::string &o : options_) args.insert(args.end(), {"-o", o});
      args.insert(args.begin(), wrapper_.begin(), wrapper_.end());
      exec(std::move(args));
    }
    if (http_) httpClose(http_);
    http_ = nullptr;
    // Requests go through the local socket, as root: an administrator.
    waitUntil(10, [&] {
      http_ = httpConnect2(file("rx5k-printer-app.sock").c_str(), 0, nullptr, AF_UNSPEC,
                           HTTP_ENCRYPTION_IF_REQUESTED, 1, 1000, nullptr);
      return http_ != nullptr;
    });
    // A server that hangs fails the request instead of the whole test run.
    if (http_) httpSetTimeout(http_, 30, nullptr, nullptr);
  }
  // Sends sig to the server; true when it has exited within seconds (it is killed after them).
  bool stop(int sig, double seconds = 30) { return stopProcess(pid_, sig, seconds); }
  ~AppServer() {
    if (http_) httpClose(http_);
    stop(SIGTERM);
    const std::string err = readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir_);
  }

  std::string uri(const std::string &printer) const {
    return "ipp://localhost:" + std::to_string(port_) + "/ipp/" +
           (printer.empty() ? "system" : "print/" + printer);
  }
  // A printer of driver on an emulated device with the printer script in query ("&k=v..."),
  // writing its jobs to file(printer).
  bool add(const std::string &printer, const std::string &driver, const std::string &query = "") {
    return addDevice(printer, driver, "rx5k-emu:/?" + query);
  }
  // A printer of driver on the device deviceUri.
  bool addDevice(const std::string &printer, const std::string &driver,
                 const std::string &deviceUri) {
    return run({kApp, "add", "-o", "state-directory=" + dir_, "-d", printer, "-m", driver, "-v",
                deviceUri}) == 0;
  }
  // A request of op on printer's URI (the system's for "") by user "t".
  ipp_t *request(ipp_op_t op, const std::string &printer, int job = 0) const {
    ipp_t *request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(printer).c_str());
    if (job) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "t");
    return request;
  }
  // Sets printer defaults ("brightness-default=30") with the app's modify command.
  bool setDefaults(const std::string &printer, const std::vector<std::string> &values) {
    std::vector<std::string> args = {kApp, "modify", "-o", "state-directory=" + dir_,
                                     "-d", printer};
    for (const std::string &v : values) args.insert(args.end(), {"-o", v});
    return run(args) == 0;
  }
  // The printers the app's printers command lists, a line each.
  std::string printers() const {
    return commandOutput(kApp + " printers -o " + shellQuote("state-directory=" + dir_)).output;
  }
  // Submits a document with the app's submit command (not waiting for the job).
  bool submit(const std::string &printer, const std::string &document) {
    return run({kApp, "submit", "-u", uri(printer), document}) == 0;
  }
  // A web page, or with a body a web form posted (administrative pages and steps, through the
  // local socket as an administrator); the reply page.
  std::string webPage(const std::string &path, const std::string &body = "") {
    return commandOutput("curl -s -m 30 --unix-socket " +
                         shellQuote(file("rx5k-printer-app.sock")) +
                         (body.empty() ? "" : " --data-raw " + shellQuote(body)) +
                         " http://localhost" + shellQuote(path))
        .output;
  }
  std::string log() const { return readFile(file("rx5k-printer-app.log")); }
  std::string stream(const std::string &printer, int job) const {
    return readFile(file(printer + "/job-" + std::to_string(job) + "/printer.bin"));
  }
  std::string file(const std::string &name) const { return dir_ + "/" + name; }
  int port() const { return port_; }
  // The values of attribute in the response to op on printer (job: 0 for a printer operation).
  std::string value(ipp_op_t op, const std::string &printer, const char *attribute, int job = 0) {
    ipp_t *response = nullptr;
    // A busy server may answer "Service Unavailable" or drop the kept-alive connection: ask
    // again a little later.
    for (int attempt = 0; attempt < 4 && !response; attempt++) {
      if (attempt) usleep(250000);
      response = cupsDoRequest(http_, request(op, printer, job),
                               (printer.empty() ? "/ipp/system" : "/ipp/print/" + printer).c_str());
    }
    EXPECT_NE(response, nullptr) << attribute << ": " << cupsLastErrorString();
    char text[8192] = "";
    if (ipp_attribute_t *a = ippFindAttribute(response, attribute, IPP_TAG_ZERO))
      ippAttributeString(a, text, sizeof text);
    ippDelete(response);
    return text;
  }
  // The server's peak resident memory in KiB.
  long peakMemoryKiB() const { return runtest::peakResidentKiB(pid_); }
  // "processing", "completed", "canceled", ...
  std::string jobState(const std::string &printer, int job) {
    return value(IPP_OP_GET_JOB_ATTRIBUTES, printer, "job-state", job);
  }
  std::string jobMessage(const std::string &printer, int job) {
    return value(IPP_OP_GET_JOB_ATTRIBUTES, printer, "job-state-message", job);
  }
  // Whether the printer's state reasons include reason.
  bool hasReason(const std::string &printer, const std::string &reason) {
    return value(IPP_OP_GET_PRINTER_ATTRIBUTES, printer, "printer-state-reasons").find(reason) !=
           std::string::npos;
  }

  const std::string kApp = std::string(RX5K_BIN_DIR) + "/rx5k-printer-app";

 private:
  std::string dir_;
  std::vector<std::string> options_, wrapper_;
  int port_ = 0;
  pid_t pid_ = -1;
  http_t *http_ = nullptr;
};

}  // namespace apptest
