// The printer application as the tests start it: a server in a scratch folder on a free port,
// printers on emulated devices that write their jobs there, and IPP requests to it. Shared by
// the tests of the application and those of a scheduler that prints through it.
#pragma once

#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/free_port.h"

namespace apptest {

inline std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs a program (args[0] a path) and returns its exit status.
inline int run(std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
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
    port_ = testsupport::freePort();
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
      std::vector<char *> argv;
      for (std::string &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
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
  bool stop(int sig, double seconds = 30) {
    kill(pid_, sig);
    const bool exited = waitUntil(seconds, [&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; });
    if (!exited) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    return exited;
  }
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
  // An administrative request (printers, defaults) on printer's URI, to fill in and send with
  // admin().
  ipp_t *adminRequest(ipp_op_t op, const std::string &printer) {
    ipp_t *request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "t");
    return request;
  }
  // Its response, or null.
  ipp_t *admin(ipp_t *request, const std::string &printer) {
    ipp_t *response = cupsDoRequest(http_, request, ("/ipp/print/" + printer).c_str());
    if (cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return response;
    ippDelete(response);
    return nullptr;
  }
  // Sets printer defaults ("brightness-default" = "30": integers as such, others keywords).
  bool setDefaults(const std::string &printer,
                   const std::vector<std::pair<std::string, std::string>> &values) {
    ipp_t *request = adminRequest(IPP_OP_SET_PRINTER_ATTRIBUTES, printer);
    for (const auto &[name, value] : values) {
      const bool number = value.find_first_not_of("-0123456789") == std::string::npos &&
                          name.rfind("print-", 0) == 0;
      if (number)
        ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name.c_str(), std::stoi(value));
      else
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name.c_str(), nullptr,
                     value.c_str());
    }
    ipp_t *response = admin(request, printer);
    ippDelete(response);
    EXPECT_NE(response, nullptr) << cupsLastErrorString();
    return response != nullptr;
  }
  // Submits a document with the app's submit command (not waiting for the job).
  bool submit(const std::string &printer, const std::string &document) {
    return run({kApp, "submit", "-u", uri(printer), document}) == 0;
  }
  std::string http(const std::string &path) const {
    return "http://localhost:" + std::to_string(port_) + path;
  }
  // A web page, or with a body a web form posted (administrative pages and steps, through the
  // local socket as an administrator); the reply page.
  std::string webPage(const std::string &path, const std::string &body = "") {
    http_t *web = httpConnect2(file("rx5k-printer-app.sock").c_str(), 0, nullptr, AF_UNSPEC,
                               HTTP_ENCRYPTION_IF_REQUESTED, 1, 10000, nullptr);
    if (!web) return "";
    httpClearFields(web);
    httpSetField(web, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
    httpSetLength(web, body.size());
    std::string reply;
    const bool sent = body.empty() ? httpGet(web, path.c_str()) == 0
                                   : httpPost(web, path.c_str()) == 0 &&
                                         httpWrite2(web, body.data(), body.size()) >= 0;
    if (sent) {
      http_status_t status;
      while ((status = httpUpdate(web)) == HTTP_STATUS_CONTINUE) {
      }
      char buffer[4096];
      for (ssize_t n; (n = httpRead2(web, buffer, sizeof buffer)) > 0;) reply.append(buffer, n);
    }
    httpClose(web);
    return reply;
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
      ipp_t *request = ippNewRequest(op);
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                   uri(printer).c_str());
      if (job) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "t");
      response = cupsDoRequest(http_, request,
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
  long peakMemoryKiB() const {
    const std::string status = readFile("/proc/" + std::to_string(pid_) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
  }
  // "processing", "completed", "canceled", ...
  std::string jobState(const std::string &printer, int job) {
    return value(IPP_OP_GET_JOB_ATTRIBUTES, printer, "job-state", job);
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
