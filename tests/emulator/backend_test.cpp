// The emulator as a CUPS backend: options from the device URI, the device line, the job folders
// it writes and the ones it refuses, the caps that end a job, and the installed folder. The
// folder tests run the backend as the unprivileged lp user, as the scheduler does, against
// entries that another user (the test, as root) planted.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend_mode.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace fs = std::filesystem;

extern char **environ;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // its shadow memory needs more address space than any
#elif defined(__has_feature)              // ceiling a test could set
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
  int exitStatus = -1;  // 128 + N when signal N ended it
  std::string output;   // standard output and error
};

// The test's files, under /tmp, which every user can reach; removed when the test program ends.
const struct Scratch {
  fs::path root = fs::temp_directory_path() / ("rx5k-backend-" + std::to_string(getpid()));
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
} kScratch;

// A folder of the running test's own, emptied first.
fs::path scratch(const std::string &name) {
  const fs::path dir =
      kScratch.root / testing::UnitTest::GetInstance()->current_test_info()->name() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (fs::path p = dir; p != fs::temp_directory_path(); p = p.parent_path())
    chmod(p.c_str(), 0755);
  return dir;
}

// The emulator program with these arguments (argv[0] on) and more environment (NAME=VALUE), as
// `user` if given, with a ceiling on its address space if given.
Outcome run(const std::vector<std::string> &arguments, const std::vector<std::string> &env = {},
            const std::string &stdinBytes = "", const passwd *user = nullptr,
            rlim_t addressSpace = 0) {
  Outcome o;
  const fs::path files = scratch("run");
  std::ofstream(files / "stdin", std::ios::binary) << stdinBytes;
  const int in = open((files / "stdin").c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open((files / "output").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  std::vector<std::string> envStrings;
  for (char **e = environ; *e; ++e) envStrings.push_back(*e);
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<std::string> argvStrings = arguments;
  std::vector<char *> argv, envp;
  for (std::string &a : argvStrings) argv.push_back(a.data());
  for (std::string &e : envStrings) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const std::string program = runtest::emulatorPath();
  const uid_t uid = user ? user->pw_uid : 0;
  const gid_t gid = user ? user->pw_gid : 0;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    alarm(60);  // a run that hangs (on a FIFO, say) fails instead of stalling the suite
    rlimit limit{addressSpace, addressSpace};
    if (addressSpace && !kAddressSanitizer) setrlimit(RLIMIT_AS, &limit);
    if (user && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in);
  close(out);
  int status = 0;
  waitpid(pid, &status, 0);
  o.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.output = readFile(files / "output");
  return o;
}

// The backend, started as the scheduler starts it, for job `job` on a printer of `model`.
Outcome runBackend(const std::string &uri, const std::string &stream, int model = 18,
                   const passwd *user = nullptr, const std::string &job = "8",
                   rlim_t addressSpace = 0) {
  return run({uri, job, "user", "title", "1", ""},
             {"DEVICE_URI=" + uri, "PPD=" + ppdtest::modelPpd(model)}, stream, user, addressSpace);
}

std::string uri(const fs::path &out, const std::string &query = "") {
  return "rx5k-emu:/?out=" + out.string() + (query.empty() ? "" : "&" + query);
}

// The expected text with its folder: OUT stands for `out`.
std::string withFolder(std::string text, const fs::path &out) {
  if (size_t at = text.find("OUT"); at != std::string::npos) text.replace(at, 3, out.string());
  return text;
}

// A 16 x 3 graphic and `labels` labels that print it.
std::string labelStream(int labels) {
  std::string s = "~DGR:A,6,2,\nFFFF0000FFFF\n";
  for (int i = 0; i < labels; i++) s += "^XA^XGR:A^XZ\n";
  return s;
}

// A thermal page of 4 x 3 bytes (32 x 3 dots), uncompressed.
const std::string kThermalPage =
    std::string("\x1F\x11\x35\x00\x1D\x76\x30\x00\x04\x00\x03\x00", 12) + std::string(12, '\xAA');

// The user the scheduler runs the backend as; the folder tests need root to become it.
const passwd *lpUser() {
  return geteuid() == 0 ? getpwnam("lp") : nullptr;
}

struct stat statOf(const fs::path &p) {
  struct stat st {};
  lstat(p.c_str(), &st);
  return st;
}

}  // namespace

TEST(BackendMode, DeviceUriOptions) {
  std::vector<std::string> args;
  std::string error;
  ASSERT_TRUE(emu::backendArgsFromUri(
      "rx5k-emu:/?out=/tmp/a%20b&paper-missing=2&silent&&hardver=1.0.4", args, error));
  EXPECT_EQ(args, (std::vector<std::string>{"--out", "/tmp/a b", "--paper-missing", "2", "--silent",
                                            "--hardver", "1.0.4"}));
  args.clear();
  ASSERT_TRUE(emu::backendArgsFromUri("rx5k-emu://", args, error));
  EXPECT_TRUE(args.empty());
  EXPECT_FALSE(emu::backendArgsFromUri("socket://printer:9100", args, error));
  Outcome line = run({"rx5k-emu"});
  EXPECT_EQ(line.exitStatus, 0);
  EXPECT_EQ(line.output, emu::kBackendDeviceLine);
  for (const std::string name : {"rx5k-emulator", "rx5k-emu"})
    EXPECT_EQ(run({name, "--version"}).output, name + " " RX5K_VERSION "\n");
  // The backend's usage names every printer option and cap as a device URI key.
  const std::string help = run({"rx5k-emu", "--help"}).output;
  for (const char *key : {"out=DIR", "ppd=FILE", "paper-missing=N", "silent", "label-row-bytes=N",
                          "max-total-bytes=N"})
    EXPECT_NE(help.find(std::string("\n  ") + key + " "), std::string::npos) << key << help;
}

// Model 20's stream carries no row length: the backend takes it from the page that the PPD and
// the job's options give the rasterizer (its width in points x dpi / 72, in whole bytes), unless
// the device URI names it.
TEST(BackendMode, Model20RowsAsThePpdAndTheJobMakeThem) {
  struct Case {
    std::string options, query;
    int rowBytes;
  };
  const Case cases[] = {
      {"", "", 102},                          // the default 4 x 6 in: 812 dots
      {"PageSize=w144h72", "", 51},           // 406 dots
      {"media=w144h72 number-up=1", "", 51},  // as lp -o media=... gives it
      {"PageSize=Custom.100x50", "", 36},     // 281.9 dots: 282
      {"PageSize=w144h72", "label-row-bytes=7", 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options + " " + c.query);
    const fs::path out = scratch("out");
    const std::string device = uri(out, c.query);
    const Outcome o = run({device, "8", "user", "title", "1", c.options},
                          {"DEVICE_URI=" + device, "PPD=" RX5K_BUILD_DIR "/ppd/rx5k-label-20.ppd"},
                          std::string(3 * c.rowBytes, '\0') + "\nPRINT 1,1\n");
    EXPECT_EQ(o.exitStatus, 0) << o.output;
    EXPECT_EQ(readFile(out / "job-8" / "pages.tsv"),
              "1\t" + std::to_string(8 * c.rowBytes) + "\t3\tlabel\t0\t" +
                  (out / "job-8" / "label-1.png").string() + "\n");
  }
}

// Whatever another user planted where the job's files go, the backend writes nothing through
// it, reads nothing from it, does not hang on it, and stops the queue with the reason.
TEST(BackendFolder, RefusesWhatItDoesNotOwn) {
  const passwd *lp = lpUser();
  if (!lp) GTEST_SKIP() << "needs root, to run the backend as the lp user";
  const fs::path lpFolder = scratch("lp-folder");  // another folder of lp's, with a file
  std::ofstream(lpFolder / "precious") << "lp's own";
  chown(lpFolder.c_str(), lp->pw_uid, lp->pw_gid);
  auto ownedByLp = [&](const fs::path &p, mode_t mode) {
    fs::create_directories(p);
    chmod(p.c_str(), mode);
    chown(p.c_str(), lp->pw_uid, lp->pw_gid);
  };
  struct Case {
    const char *planted;
    bool inFolderOfLp;  // planted in a folder of lp's (else where that folder would be)
    void (*plant)(const fs::path &root, const fs::path &lpFolder);
    std::string error;  // OUT: the folder
  };
  const Case cases[] = {
      {"the folder, by another user", false,
       [](const fs::path &root, const fs::path &) { fs::create_directory(root); },
       "OUT belongs to uid 0 (root), not to the backend's user uid " + std::to_string(lp->pw_uid) +
           " (lp)"},
      {"the folder, a link to one of lp's", false,
       [](const fs::path &root, const fs::path &lpDir) { fs::create_symlink(lpDir, root); },
       "OUT is a symbolic link"},
      {"the folder, a FIFO", false,
       [](const fs::path &root, const fs::path &) { mkfifo(root.c_str(), 0666); },
       "OUT is not a folder"},
      {"the job's folder, by another user, with a file for all to read", true,
       [](const fs::path &root, const fs::path &) {
         fs::create_directory(root / "job-8");
         chmod((root / "job-8").c_str(), 0777);
         close(open((root / "job-8" / "printer.bin").c_str(), O_CREAT | O_WRONLY, 0666));
       },
       "OUT/job-8 belongs to uid 0 (root), not to the backend's user uid " +
           std::to_string(lp->pw_uid) + " (lp); refusing to use it"},
      {"the job's folder, a link to one of lp's", true,
       [](const fs::path &root, const fs::path &lpDir) {
         fs::create_directory_symlink(lpDir, root / "job-8");
       },
       "OUT/job-8 is a symbolic link; refusing to use it"},
      {"the job's folder, a FIFO", true,
       [](const fs::path &root, const fs::path &) { mkfifo((root / "job-8").c_str(), 0666); },
       "OUT/job-8 is not a folder; refusing to use it"},
      {"nothing, but the folder is lp's and read-only", true,
       [](const fs::path &root, const fs::path &) { chmod(root.c_str(), 0555); },
       "cannot create OUT/job-8: Permission denied"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.planted);
    const fs::path root = scratch("case") / "out";
    if (c.inFolderOfLp) ownedByLp(root, 0755);
    c.plant(root, lpFolder);
    const Outcome o = runBackend(uri(root), labelStream(1), 18, lp);
    EXPECT_EQ(o.exitStatus, 4) << o.output;  // CUPS_BACKEND_STOP
    EXPECT_NE(o.output.find("ERROR: " + withFolder(c.error, root) + "\n"), std::string::npos)
        << o.output;
    if (fs::exists(root / "job-8" / "printer.bin")) {
      EXPECT_EQ(fs::file_size(root / "job-8" / "printer.bin"), 0u);
    }
  }
  // A folder that lp owns but others may write to is refused too.
  const fs::path open = scratch("open") / "out";
  ownedByLp(open, 0777);
  EXPECT_NE(runBackend(uri(open), labelStream(1), 18, lp)
                .output.find("ERROR: " + open.string() + " is writable by other users\n"),
            std::string::npos);
  EXPECT_EQ(readFile(lpFolder / "precious"), "lp's own");
  EXPECT_EQ(std::distance(fs::directory_iterator(lpFolder), {}), 1);
}

// The folder is made if missing; each job gets a new folder (one left by an earlier run of the
// same job is emptied, its links removed, not followed), files readable by all, and `latest`
// points at the newest.
TEST(BackendFolder, EachJobGetsItsOwnFolder) {
  const passwd *lp = lpUser();
  const uid_t owner = lp ? lp->pw_uid : geteuid();
  const fs::path parent = scratch("spool");
  chown(parent.c_str(), owner, static_cast<gid_t>(-1));
  const fs::path root = parent / "rx5k-emu";
  ASSERT_EQ(runBackend(uri(root), labelStream(1), 18, lp, "8").exitStatus, 0);
  // What an earlier run of job 9 might have left: a link to a file of the same user's.
  std::ofstream(parent / "precious") << "kept";
  fs::create_directory(root / "job-9");
  fs::create_symlink(parent / "precious", root / "job-9" / "printer.log");
  for (const fs::path &p : {root / "job-9", root / "job-9" / "printer.log"})
    lchown(p.c_str(), owner, static_cast<gid_t>(-1));
  const Outcome o = runBackend(uri(root), labelStream(2), 18, lp, "9");
  ASSERT_EQ(o.exitStatus, 0) << o.output;

  EXPECT_EQ(readFile(parent / "precious"), "kept");
  EXPECT_EQ(fs::read_symlink(root / "latest"), "job-9");
  EXPECT_EQ(readFile(root / "job-9" / "pages.tsv"),
            "1\t16\t3\tlabel\t0\t" + (root / "job-9" / "label-1.png").string() + "\n" +
                "2\t16\t3\tlabel\t0\t" + (root / "job-9" / "label-2.png").string() + "\n");
  for (const fs::path &folder : {root, root / "job-8", root / "job-9"}) {
    EXPECT_EQ(statOf(folder).st_mode, S_IFDIR | 0755) << folder;
    EXPECT_EQ(statOf(folder).st_uid, owner) << folder;
  }
  for (const char *file : {"printer.log", "printer.bin", "pages.tsv", "label-1.png"}) {
    EXPECT_EQ(statOf(root / "job-9" / file).st_mode, S_IFREG | 0644) << file;
    EXPECT_EQ(statOf(root / "job-9" / file).st_uid, owner) << file;
  }
}

// Each cap ends the job with its reason: CUPS_BACKEND_CANCEL (5), so that the queue goes on; a
// stream that cannot be parsed fails the job (1).
TEST(BackendCaps, JobsEndWithTheirReason) {
  std::string commands;
  for (int i = 0; i < 50; i++) commands += "^XA^XZ\n";
  struct Case {
    int model;
    std::string query;
    std::string stream;
    int exitStatus;
    std::string error;
  };
  const Case cases[] = {
      {18, "max-job-bytes=64", commands, 5,
       "job cancelled: the job's stream is longer than 64 bytes (max-job-bytes)"},
      {18, "max-page-dots=40", labelStream(1), 5,
       "job cancelled: label stream: offset 0: graphic of 16 x 3 dots is larger than the decoder "
       "accepts"},
      {18, "max-job-dots=100", labelStream(3), 5,
       "job cancelled: label stream: offset 63: label 3 would bring the job to more than 100 dots"},
      {22, "max-page-dots=64", kThermalPage, 5,
       "job cancelled: page 1 has 96 dots, more than 64 (max-page-dots)"},
      {18, "max-job-files=4", labelStream(2), 5,
       "job cancelled: cannot create OUT/job-8/label-2.png: the job has 4 files, the most it may "
       "have (max-job-files)"},
      {18, "max-total-bytes=2K", commands, 5,
       "job cancelled: the job's files would exceed 2048 bytes (max-total-bytes)"},
      {22, "", "\x1F\x11\x99", 1, "printer stream error: offset 0: unknown command 1F 11 99"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.query);
    const fs::path out = scratch("out");
    const Outcome o = runBackend(uri(out, c.query), c.stream, c.model);
    EXPECT_EQ(o.exitStatus, c.exitStatus) << o.output;
    EXPECT_NE(o.output.find("ERROR: " + withFolder(c.error, out) + "\n"), std::string::npos)
        << o.output;
  }
}

// Past the total cap the oldest job folders go, until the new job fits.
TEST(BackendCaps, OldestJobFoldersMakeRoom) {
  const fs::path out = scratch("out");
  for (const char *job : {"1", "2", "3"})
    ASSERT_EQ(runBackend(uri(out), labelStream(2), 18, nullptr, job).exitStatus, 0);
  uintmax_t bytes = 0;
  for (const auto &e : fs::directory_iterator(out / "job-1")) bytes += e.file_size();
  // Room for two and a half jobs: job 1 goes when job 4 starts, job 2 as it writes.
  const std::string cap = "max-total-bytes=" + std::to_string(bytes * 5 / 2);
  ASSERT_EQ(runBackend(uri(out, cap), labelStream(2), 18, nullptr, "4").exitStatus, 0);
  for (const char *job : {"job-1", "job-2"}) EXPECT_FALSE(fs::exists(out / job)) << job;
  for (const char *job : {"job-3", "job-4"}) EXPECT_TRUE(fs::exists(out / job)) << job;
}

// Streams that once made labels of hundreds of megabytes each, within an address space of
// 512 MiB: a graphic beyond the page cap is refused before it is allocated, and recalling a
// graphic over and over ends at the job's dots. Labels are decoded as they end, so memory holds
// one at a time.
TEST(BackendCaps, HostileLabelStreamsEndWithinMemory) {
  std::string recalls;
  for (int i = 0; i < 1000; i++) recalls += "^XA^XGR:A^XZ";
  struct Case {
    std::string query;
    std::string stream;
    std::string error;
  };
  const Case cases[] = {
      {"", "~DGR:A,33554432,2048,\n" + std::string(16384, ',') + recalls,
       "offset 0: graphic of 16384 x 16384 dots is larger than the decoder accepts"},
      {"max-job-dots=64M", "~DGR:A,2097152,512,\n" + std::string(4096, ',') + recalls,
       "offset 4176: label 5 would bring the job to more than 67108864 dots"},
  };
  for (const Case &c : cases) {
    const Outcome o =
        runBackend(uri(scratch("out"), c.query), c.stream, 18, nullptr, "8", rlim_t{512} << 20);
    EXPECT_EQ(o.exitStatus, 5) << o.output;
    EXPECT_NE(o.output.find("ERROR: job cancelled: label stream: " + c.error), std::string::npos)
        << o.output;
  }
}

// The emulator program writes into the folder it is given, replacing what is there: a link is
// replaced, not written through, and a FIFO does not block it.
TEST(ProgramFolder, ReplacesFilesWithoutFollowingThem) {
  const fs::path dir = scratch("out");
  std::ofstream(dir / "precious") << "kept";
  fs::create_symlink(dir / "precious", dir / "printer.log");
  fs::create_symlink(dir / "precious", dir / "filter-stderr.txt");
  mkfifo((dir / "printer.bin").c_str(), 0644);
  const Outcome o = run({"rx5k-emulator", "--ppd", ppdtest::modelPpd(22), "--out", dir.string(),
                         "--filter", "/bin/true", "--", ""});
  EXPECT_EQ(o.exitStatus, 0) << o.output;
  EXPECT_EQ(readFile(dir / "precious"), "kept");
  for (const char *file : {"printer.log", "printer.bin", "filter-stderr.txt"})
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / file))) << file;
}
