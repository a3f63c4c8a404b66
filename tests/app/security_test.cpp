// Who may do what with the printer application, through its real clients: the app's commands as
// another local user, IPP and the web forms from another host (a network namespace), device URIs
// that are not printers, device lists without an Avahi daemon, and the service's account.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/client_pages.h"

namespace fs = std::filesystem;
using apptest::AppServer;
using apptest::run;

namespace {

const std::string kRunuser = "/usr/sbin/runuser";
const std::string kIp = "/usr/sbin/ip";
const std::string kCurl = "/usr/bin/curl";

// Output of a command (args[0] a path) and its exit status.
std::pair<int, std::string> output(std::vector<std::string> args) {
  std::string line;
  for (const std::string &a : args) line += apptest::shellQuote(a) + " ";
  const apptest::CommandResult r = apptest::commandOutput(line);
  return {r.status, r.output};
}

// The HTTP status of a request (curl arguments) and the response body.
std::pair<std::string, std::string> http(std::vector<std::string> prefix,
                                         const std::vector<std::string> &curlArgs) {
  prefix.insert(prefix.end(), {kCurl, "-s", "-w", "\n%{http_code}"});
  prefix.insert(prefix.end(), curlArgs.begin(), curlArgs.end());
  const std::string text = output(prefix).second;
  const size_t last = text.rfind('\n');
  return {text.substr(last + 1), text.substr(0, last)};
}

// Two network namespaces joined by a veth pair on a private /30 that exists only in them: the
// server's side ("srv", .1) and another host ("cli", .2). Removed at the end.
class TwoHosts {
 public:
  TwoHosts() {
    const std::string id = std::to_string(getpid() % 100000);
    server_ = "rx5k-srv-" + id;
    client_ = "rx5k-cli-" + id;
    const std::string a = "rx5ks" + id, b = "rx5kc" + id;
    ok_ = run({"/bin/sh", "-c",
               "PATH=/usr/sbin:$PATH; ip netns add $0 && ip netns add $1 && "
               "ip link add $2 netns $0 type veth peer name $3 netns $1 && "
               "ip -n $0 addr add 10.213.77.1/30 dev $2 && ip -n $0 link set $2 up && "
               "ip -n $1 addr add 10.213.77.2/30 dev $3 && ip -n $1 link set $3 up && "
               "ip -n $0 link set lo up",
               server_, client_, a, b}) == 0;
  }
  ~TwoHosts() {
    run({kIp, "netns", "del", server_});
    run({kIp, "netns", "del", client_});
  }
  bool ok() const { return ok_; }
  std::string serverAddress() const { return "10.213.77.1"; }
  std::vector<std::string> onServer() const { return {kIp, "netns", "exec", server_}; }
  std::vector<std::string> onClient() const { return {kIp, "netns", "exec", client_}; }

 private:
  std::string server_, client_;
  bool ok_ = false;
};

// A local user who is not an administrator prints and reads state through the local socket and
// over loopback, and cannot add or delete printers either way; root (over the socket) can.
TEST(AppSecurity, LocalUsersPrintButDoNotAdminister) {
  AppServer server;
  ASSERT_TRUE(server.add("p", "rx5k-label-18"));
  const std::string dir = server.file("");
  chmod(dir.c_str(), 0755);
  std::ofstream(server.file("doc.pwg")) << apptest::pwgPage(812, 1218, 1218);
  const std::vector<std::string> nobody = {kRunuser, "-u", "nobody", "--", server.kApp};
  const std::string state = "state-directory=" + dir;
  const std::string system = "ipp://localhost:" + std::to_string(server.port()) + "/ipp/system";
  auto as = [&](std::vector<std::string> args) {
    args.insert(args.begin(), nobody.begin(), nobody.end());
    return output(args);
  };
  for (const std::vector<std::string> &where :
       {std::vector<std::string>{"-o", state}, std::vector<std::string>{"-u", system}}) {
    SCOPED_TRACE(where[1]);
    std::vector<std::string> add = {"add", "-d", "x", "-m", "rx5k-22", "-v", "rx5k-emu:/?"};
    add.insert(add.end(), where.begin(), where.end());
    const auto added = as(add);
    EXPECT_NE(added.first, 0);
    EXPECT_NE(added.second.find(where[0] == "-o" ? "Forbidden" : "Unauthorized"), std::string::npos)
        << added.second;
    std::vector<std::string> pause = {"pause", "-d", "p"};
    pause.insert(pause.end(), where.begin(), where.end());
    EXPECT_NE(as(pause).first, 0);
  }
  EXPECT_EQ(server.printers(), "p\n");
  EXPECT_EQ(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, "p", "printer-state"), "idle");
  const auto submitted = as({"submit", "-o", state, "-d", "p", server.file("doc.pwg")});
  EXPECT_EQ(submitted.first, 0) << submitted.second;
  EXPECT_TRUE(apptest::waitUntil(20, [&] { return server.jobState("p", 1) == "completed"; }));
  EXPECT_EQ(as({"printers", "-o", state}).second, "p\n");
  EXPECT_EQ(run({server.kApp, "pause", "-o", state, "-d", "p"}), 0);
  EXPECT_EQ(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, "p", "printer-state"), "stopped");
}

// Another host prints, but cannot add a printer over IPP, use the web forms or set the web
// password; the server listens only where it is told to.
TEST(AppSecurity, AnotherHostDoesNotAdminister) {
  TwoHosts hosts;
  if (!hosts.ok()) GTEST_SKIP() << "no network namespaces here";
  const std::string address = hosts.serverAddress();
  AppServer server({"listen-hostname=" + address}, hosts.onServer());
  ASSERT_TRUE(server.add("p", "rx5k-label-18"));
  const std::string base = "http://" + address + ":" + std::to_string(server.port());
  const std::string ipp = "ipp://" + address + ":" + std::to_string(server.port());
  std::ofstream(server.file("doc.pwg")) << apptest::pwgPage(812, 1218, 1218);

  auto onClient = [&](std::vector<std::string> args) {
    std::vector<std::string> all = hosts.onClient();
    all.insert(all.end(), args.begin(), args.end());
    return output(all);
  };
  EXPECT_NE(onClient({server.kApp, "add", "-u", ipp + "/ipp/system", "-d", "x", "-m", "rx5k-22",
                      "-v", "rx5k-emu:/?"})
                .first,
            0);
  EXPECT_NE(onClient({server.kApp, "pause", "-u", ipp + "/ipp/print/p"}).first, 0);
  // The web pages that administer: each refused before the form is read.
  for (const char *page : {"/addprinter", "/security", "/p/delete", "/p/config"}) {
    SCOPED_TRACE(page);
    const auto got = http(hosts.onClient(), {base + page});
    // Refused, or sent to TLS (where it is refused without credentials).
    EXPECT_TRUE(got.first == "401" || got.first == "301") << got.first << got.second;
    EXPECT_EQ(got.second.find("<form"), std::string::npos);
    const auto posted =
        http(hosts.onClient(),
             {"-d", "old_password=&new_password=Secret123&new_password2=Secret123", base + page});
    EXPECT_TRUE(posted.first == "401" || posted.first == "426") << posted.first;
  }
  EXPECT_EQ(http(hosts.onClient(), {base + "/"}).first, "200");
  EXPECT_EQ(server.printers(), "p\n");
  const auto submitted =
      onClient({server.kApp, "submit", "-u", ipp + "/ipp/print/p", server.file("doc.pwg")});
  EXPECT_EQ(submitted.first, 0) << submitted.second;
  EXPECT_TRUE(apptest::waitUntil(20, [&] { return server.jobState("p", 1) == "completed"; }));
  // Nothing listens on loopback.
  EXPECT_NE(output({kIp, "netns", "exec", hosts.onServer()[3], kCurl, "-s",
                    "http://127.0.0.1:" + std::to_string(server.port()) + "/"})
                .first,
            0);
}

// Device URIs that are not printers are refused, whoever asks; rx5k-socket: reaches only the
// allowed networks (all but loopback by default, else printer-networks).
TEST(AppSecurity, DeviceUrisThatAreNotPrintersAreRefused) {
  AppServer server;
  const std::string state = "state-directory=" + server.file("");
  auto add = [&](const std::string &name, const std::string &uri) {
    return output({server.kApp, "add", "-o", state, "-d", name, "-m", "rx5k-22", "-v", uri});
  };
  for (const std::string &uri : std::vector<std::string>{
           "file:///etc/passwd", "file://" + server.file("spool/../../x"),
           "file://" + server.file("spool/%2e%2e/%2e%2e/x"),
           "rx5k-emu:/?out=" + server.file("elsewhere"), "rx5k-emu:/?paper-missing=1&o%75t=/tmp",
           std::string("rx5k-socket://127.0.0.1:9100"), std::string("rx5k-socket://localhost"),
           std::string("socket://[::1]:9100")}) {
    SCOPED_TRACE(uri);
    const auto refused = add("x", uri);
    EXPECT_NE(refused.first, 0);
    EXPECT_NE(refused.second.find("Unsupported smi55357-device-uri"), std::string::npos)
        << refused.second;
  }
  EXPECT_FALSE(fs::exists(server.file("elsewhere")));
  EXPECT_EQ(add("net", "rx5k-socket://192.0.2.7:9100").first, 0);
  std::ofstream(server.file("out.bin")).put('\n');
  EXPECT_EQ(add("file", "file://" + server.file("out.bin")).first, 0);

  AppServer allowing({"printer-networks=192.0.2.0/25,127.0.0.1"});
  const std::string allowingState = "state-directory=" + allowing.file("");
  for (const auto &[uri, allowed] :
       std::vector<std::pair<std::string, bool>>{{"rx5k-socket://127.0.0.1", true},
                                                 {"rx5k-socket://127.0.0.2", false},
                                                 {"rx5k-socket://192.0.2.127", true},
                                                 {"rx5k-socket://192.0.2.128", false}}) {
    SCOPED_TRACE(uri);
    EXPECT_EQ(run({allowing.kApp, "add", "-o", allowingState, "-d", "n" + uri.substr(14), "-m",
                   "rx5k-22", "-v", uri}) == 0,
              allowed);
  }
}

// With no Avahi daemon (this machine has none), device lists hold what the app finds and the
// server stays up.
TEST(AppSecurity, DeviceListsWithoutAvahi) {
  ASSERT_NE(access("/run/avahi-daemon/socket", F_OK), 0) << "an Avahi daemon runs here";
  AppServer server;
  const auto listed = output({server.kApp, "devices", "-o", "state-directory=" + server.file("")});
  EXPECT_EQ(listed.first, 0);
  EXPECT_NE(listed.second.find("rx5k-emu:/"), std::string::npos) << listed.second;
  EXPECT_EQ(run({server.kApp, "status", "-o", "state-directory=" + server.file("")}), 0);
}

// Over the network an administrator gives a password and belongs to the admin group, on loopback
// too: the device page then lists the app's devices (no Avahi daemon runs here). On the local
// socket the group alone counts.
TEST(AppSecurity, AdministratorsAuthenticateWithPasswords) {
  const std::string id = std::to_string(getpid() % 100000);
  apptest::TemporaryUser admin("rx5kadm" + id, "lpadmin"), plain("rx5kusr" + id, "");
  ASSERT_TRUE(admin.ok() && plain.ok());
  AppServer server;
  const std::string page = "http://localhost:" + std::to_string(server.port()) + "/addprinter";
  EXPECT_EQ(http({}, {page}).first, "401");
  EXPECT_EQ(http({}, {"-u", admin.credentials() + "x", page}).first, "401");
  EXPECT_EQ(http({}, {"-u", plain.credentials(), page}).first, "403");
  const auto listed = http({}, {"-u", admin.credentials(), page});
  EXPECT_EQ(listed.first, "200");
  EXPECT_NE(listed.second.find("rx5k-emu:/"), std::string::npos);
  // On the local socket, the admin group's members administer.
  ASSERT_TRUE(server.add("p", "rx5k-22"));
  chmod(server.file("").c_str(), 0755);
  for (const apptest::TemporaryUser *user : {&plain, &admin}) {
    const auto paused = output({kRunuser, "-u", user->name(), "--", server.kApp, "pause", "-o",
                                "state-directory=" + server.file(""), "-d", "p"});
    EXPECT_EQ(paused.first == 0, user == &admin) << paused.second;
  }
  EXPECT_EQ(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, "p", "printer-state"), "stopped");
}

// The service runs as its own account in a sandbox; the setup script makes the account and the
// folders, and changes nothing when run again.
TEST(AppSecurity, ServiceAccountAndSandbox) {
  const std::string unit =
      apptest::readFile(std::string(RX5K_BUILD_DIR) + "/app/rx5k-printer-app.service");
  for (const char *line :
       {"\nUser=rx5k-printer-app\n", "\nGroup=rx5k-printer-app\n", "\nSupplementaryGroups=lp\n",
        "\nProtectSystem=strict\n",
        "\nReadWritePaths=/var/lib/rx5k-printer-app /var/spool/rx5k-printer-app\n",
        "\nNoNewPrivileges=yes\n", "\nPrivateTmp=yes\n", "\nProtectHome=yes\n",
        "\nCapabilityBoundingSet=\n",
        "\nRestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  EXPECT_EQ(unit.find("listen-hostname"), std::string::npos);

  // A server refuses a state folder of another user.
  char scratch[] = "/tmp/rx5k-foreign-XXXXXX";
  const std::string foreign = mkdtemp(scratch);
  ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  const auto refused = output({std::string(RX5K_BIN_DIR) + "/rx5k-printer-app", "server", "-o",
                               "state-directory=" + foreign, "-o", "log-file=-"});
  EXPECT_NE(refused.first, 0);
  EXPECT_NE(refused.second.find("belongs to another user"), std::string::npos) << refused.second;
  EXPECT_FALSE(fs::exists(foreign + "/rx5k-printer-app.sock"));
  fs::remove_all(foreign);

  char pattern[] = "/tmp/rx5k-setup-XXXXXX";
  const fs::path root = mkdtemp(pattern);
  fs::create_directories(root / "etc");
  for (const char *file : {"passwd", "group", "shadow", "gshadow", "login.defs"})
    fs::copy_file(std::string("/etc/") + file, root / "etc" / file);
  const std::string script = RX5K_SOURCE_DIR "/app/setup-system.sh";
  for (int pass = 0; pass < 2; pass++) {
    SCOPED_TRACE(pass);
    ASSERT_EQ(run({"/bin/sh", script, root.string()}), 0);
    const std::string passwd = apptest::readFile(root / "etc/passwd");
    const size_t at = passwd.find("\nrx5k-printer-app:x:");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(passwd.find("\nrx5k-printer-app:", at + 1), std::string::npos);
    const int uid = std::atoi(passwd.c_str() + at + 20);
    EXPECT_GT(uid, 0);
    EXPECT_NE(apptest::readFile(root / "etc/group").find(":rx5k-printer-app\n"), std::string::npos);
    for (const auto &[folder, mode] : {std::pair{"var/lib/rx5k-printer-app", 0755},
                                       std::pair{"var/lib/rx5k-printer-app/previews", 0755},
                                       std::pair{"var/spool/rx5k-printer-app", 0700}}) {
      struct stat st {};
      ASSERT_EQ(stat((root / folder).c_str(), &st), 0) << folder;
      EXPECT_EQ(static_cast<int>(st.st_uid), uid) << folder;
      EXPECT_EQ(st.st_mode & 07777, static_cast<unsigned>(mode)) << folder;
    }
  }
  fs::remove_all(root);
}

}  // namespace
