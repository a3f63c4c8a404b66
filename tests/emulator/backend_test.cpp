// The emulator as a CUPS backend: options from the device URI, the device line, the job folders
// it writes, who may read them and the ones it refuses, the caps that end a job, and the
// program's own folder. The
// folder tests run the backend as the unprivileged lp user, as the scheduler does, against
// entries that another user (the test, as root) planted.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "backend_mode.h"
#include "support/command.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace fs = std::filesystem;
using runtest::readFile;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // its shadow memory needs more address space than any
#elif defined(__has_feature)              // ceiling a test could set
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The exit status (128 + N when signal N ended it), standard output and error.
using Outcome = apptest::CommandResult;

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

// The process becomes `user`; false if it cannot.
bool become(const passwd *user) {
  return setgroups(0, nullptr) == 0 && setgid(user->pw_gid) == 0 && setuid(user->pw_uid) == 0;
}

// The emulator program with these arguments (argv[0] on) and more environment (NAME=VALUE), as
// `user` if given, within an address space of `addressSpace` bytes if given, under the strictest
// umask. With `during`, standard input stays open until during(pid) has returned.
Outcome run(std::vector<std::string> args, std::vector<std::string> env = {},
            const std::string &stdinBytes = "", const passwd *user = nullptr,
            rlim_t addressSpace = 0, const std::function<void(pid_t)> &during = nullptr) {
  const fs::path files = scratch("run");
  std::ofstream(files / "stdin", std::ios::binary) << stdinBytes;
  int pipeEnds[2] = {-1, -1};
  if (during && pipe2(pipeEnds, O_CLOEXEC) != 0) return {};
  const int in = during ? pipeEnds[0] : open((files / "stdin").c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open((files / "output").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string program = runtest::emulatorPath();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    alarm(60);  // a run that hangs (on a FIFO, say) fails instead of stalling the suite
    umask(077);
    for (std::string &e : env) putenv(e.data());
    const rlimit limit{addressSpace, addressSpace};
    if (addressSpace && !kAddressSanitizer) setrlimit(RLIMIT_AS, &limit);
    if (user && !become(user)) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in);
  close(out);
  if (during) {
    const bool written = write(pipeEnds[1], stdinBytes.data(), stdinBytes.size()) ==
                         static_cast<ssize_t>(stdinBytes.size());
    EXPECT_TRUE(written);
    during(pid);
    close(pipeEnds[1]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          readFile(files / "output")};
}

// The backend, started as the scheduler starts it, for job `job` that `printedBy` sent to a
// printer of `model`, within an address space of 512 MiB (`during` as for run).
Outcome runBackend(const std::string &uri, const std::string &stream, int model = 18,
                   const passwd *user = nullptr, const std::string &job = "8",
                   const std::string &options = "", const std::string &printedBy = "user",
                   const std::function<void(pid_t)> &during = nullptr) {
  const std::string ppd =
      model == 20 ? RX5K_BUILD_DIR "/ppd/rx5k-label-20.ppd" : ppdtest::modelPpd(model);
  return run({uri, job, printedBy, "title", "1", options}, {"DEVICE_URI=" + uri, "PPD=" + ppd},
             stream, user, rlim_t{512} << 20, during);
}

std::string uri(const fs::path &out, const std::string &query = "") {
  return "rx5k-emu:/?out=" + out.string() + (query.empty() ? "" : "&" + query);
}

// Expects the backend's exit status and its "ERROR: " line; OUT in the error stands for `out`.
void expectError(const Outcome &o, int exitStatus, std::string error, const fs::path &out) {
  if (size_t at = error.find("OUT"); at != std::string::npos) error.replace(at, 3, out.string());
  EXPECT_EQ(o.status, exitStatus) << o.output;
  EXPECT_NE(o.output.find("ERROR: " + error + "\n"), std::string::npos) << o.output;
}

// A 16 x 3 graphic and `labels` labels that print it.
std::string labelStream(int labels) {
  std::string s = "~DGR:A,6,2,\nFFFF0000FFFF\n";
  for (int i = 0; i < labels; i++) s += "^XA^XGR:A^XZ\n";
  return s;
}

// The user the scheduler runs the backend as; the folder tests need root to become it.
const passwd *lpUser() {
  return geteuid() == 0 ? getpwnam("lp") : nullptr;
}

struct stat statOf(const fs::path &p) {
  struct stat st {};
  lstat(p.c_str(), &st);
  return st;
}

// Whether `user` can list the folder or read the file at p.
bool readableAs(const passwd *user, const fs::path &p) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!become(user)) _exit(2);
    if (DIR *d = opendir(p.c_str())) _exit(readdir(d) ? 0 : 1);
    char c;
    const int fd = open(p.c_str(), O_RDONLY);
    _exit(fd >= 0 && read(fd, &c, 1) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Disk that a folder and its files take, as allocated.
uintmax_t diskOf(const fs::path &folder) {
  uintmax_t bytes = static_cast<uintmax_t>(statOf(folder).st_blocks) * 512;
  for (const auto &e : fs::directory_iterator(folder))
    bytes += static_cast<uintmax_t>(statOf(e.path()).st_blocks) * 512;
  return bytes;
}

}  // namespace

TEST(BackendMode, DeviceUriOptionsDeviceLineVersionAndHelp) {
  std::vector<std::string> args;
  std::string error;
  ASSERT_TRUE(emu::backendArgsFromUri(
      "rx5k-emu:/?out=/tmp/a%20b&paper-missing=2&silent&&hardver=1.0.4", args, error));
  EXPECT_EQ(args, (std::vector<std::string>{"--out", "/tmp/a b", "--paper-missing", "2", "--silent",
                                            "--hardver", "1.0.4"}));
  EXPECT_FALSE(emu::backendArgsFromUri("socket://printer:9100", args, error));
  EXPECT_EQ(run({"rx5k-emu"}).output, emu::kBackendDeviceLine);
  for (const std::string name : {"rx5k-emulator", "rx5k-emu"})
    EXPECT_EQ(run({name, "--version"}).output, name + " " RX5K_VERSION "\n");
  // The backend's usage names every printer option and cap as a device URI key.
  const std::string help = run({"rx5k-emu", "--help"}).output;
  for (const char *key : {"out=DIR", "ppd=FILE", "paper-missing=N", "silent", "label-row-bytes=N",
                          "idle-report-ms=MS", "max-total-bytes=N", "max-total-files=N",
                          "max-decode-dots=N", "max-cpu-seconds=N"})
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
    const Outcome o =
        runBackend(uri(out, c.query), std::string(3 * c.rowBytes, '\0') + "\nPRINT 1,1\n", 20,
                   nullptr, "8", c.options);
    EXPECT_EQ(o.status, 0) << o.output;
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
  ASSERT_EQ(chown(lpFolder.c_str(), lp->pw_uid, lp->pw_gid), 0);
  const std::string notLp = " belongs to uid 0 (root), not to the backend's user uid " +
                            std::to_string(lp->pw_uid) + " (lp)";
  struct Case {
    const char *planted;
    bool inFolderOfLp;  // planted in a folder of lp's (else where that folder would be)
    std::function<void(const fs::path &root)> plant;
    std::string error;  // OUT: the folder
  };
  const Case cases[] = {
      {"the folder, by another user", false, [](auto &root) { fs::create_directory(root); },
       "OUT" + notLp},
      {"the folder, a link to one of lp's", false,
       [&](auto &root) { fs::create_symlink(lpFolder, root); }, "OUT is a symbolic link"},
      {"the folder, a FIFO", false, [](auto &root) { mkfifo(root.c_str(), 0666); },
       "OUT is not a folder"},
      {"the job's folder, by another user, with a file for all to read", true,
       [](auto &root) {
         fs::create_directory(root / "job-8");
         chmod((root / "job-8").c_str(), 0777);
         close(open((root / "job-8" / "printer.bin").c_str(), O_CREAT | O_WRONLY, 0666));
       },
       "OUT/job-8" + notLp + "; refusing to use it"},
      {"the job's folder, a link to one of lp's", true,
       [&](auto &root) { fs::create_directory_symlink(lpFolder, root / "job-8"); },
       "OUT/job-8 is a symbolic link; refusing to use it"},
      {"the job's folder, a FIFO", true, [](auto &root) { mkfifo((root / "job-8").c_str(), 0666); },
       "OUT/job-8 is not a folder; refusing to use it"},
      {"nothing, but the folder is lp's and writable by others", true,
       [](auto &root) { chmod(root.c_str(), 0777); }, "OUT is writable by other users"},
      {"nothing, but the folder is lp's and read-only", true,
       [](auto &root) { chmod(root.c_str(), 0555); }, "cannot create OUT/job-8: Permission denied"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.planted);
    const fs::path root = scratch("case") / "out";
    if (c.inFolderOfLp) {
      fs::create_directories(root);
      chmod(root.c_str(), 0755);
      ASSERT_EQ(chown(root.c_str(), lp->pw_uid, lp->pw_gid), 0);
    }
    c.plant(root);
    expectError(runBackend(uri(root), labelStream(1), 18, lp), 4, c.error, root);  // STOP
    if (fs::exists(root / "job-8" / "printer.bin")) {
      EXPECT_EQ(fs::file_size(root / "job-8" / "printer.bin"), 0u);
    }
  }
  EXPECT_EQ(readFile(lpFolder / "precious"), "lp's own");
  EXPECT_EQ(std::distance(fs::directory_iterator(lpFolder), {}), 1);
}

// The folder is made if missing; each job gets a new folder (one left by an earlier run of the
// same job is emptied, its links removed, not followed), and `latest` points at the newest. Past
// the total cap the oldest job folders go, until the new job fits.
TEST(BackendFolder, EachJobGetsItsOwnFolderAndTheOldestMakeRoom) {
  const passwd *lp = lpUser();
  const uid_t owner = lp ? lp->pw_uid : geteuid();
  const fs::path parent = scratch("spool");
  ASSERT_EQ(chown(parent.c_str(), owner, static_cast<gid_t>(-1)), 0);
  const fs::path root = parent / "rx5k-emu";
  ASSERT_EQ(runBackend(uri(root), labelStream(1), 18, lp, "1").status, 0);
  // What an earlier run of job 2 might have left: a link to a file of the same user's.
  std::ofstream(parent / "precious") << "kept";
  fs::create_directory(root / "job-2");
  fs::create_symlink(parent / "precious", root / "job-2" / "printer.log");
  for (const fs::path &p : {root / "job-2", root / "job-2" / "printer.log"})
    ASSERT_EQ(lchown(p.c_str(), owner, static_cast<gid_t>(-1)), 0);
  const Outcome o = runBackend(uri(root), labelStream(2), 18, lp, "2");
  ASSERT_EQ(o.status, 0) << o.output;

  EXPECT_EQ(readFile(parent / "precious"), "kept");
  EXPECT_EQ(fs::read_symlink(root / "latest"), "job-2");
  EXPECT_EQ(readFile(root / "job-2" / "pages.tsv"),
            "1\t16\t3\tlabel\t0\t" + (root / "job-2" / "label-1.png").string() + "\n" +
                "2\t16\t3\tlabel\t0\t" + (root / "job-2" / "label-2.png").string() + "\n");
  for (const fs::path &p : {root, root / "job-1", root / "job-2", root / "job-2" / "pages.tsv"})
    EXPECT_EQ(statOf(p).st_uid, owner) << p;

  ASSERT_EQ(runBackend(uri(root), labelStream(2), 18, lp, "3").status, 0);
  const uintmax_t bytes = diskOf(root / "job-2");
  // Room for two and a half jobs of two labels: the oldest, 1 and 2, go to make room for 4.
  const std::string cap = "max-total-bytes=" + std::to_string(bytes * 5 / 2);
  ASSERT_EQ(runBackend(uri(root, cap), labelStream(2), 18, lp, "4").status, 0);
  for (const char *job : {"job-1", "job-2"}) EXPECT_FALSE(fs::exists(root / job)) << job;
  for (const char *job : {"job-3", "job-4"}) EXPECT_TRUE(fs::exists(root / job)) << job;
}

// Previews show what users printed. Another user lists no folder and reads no file, even
// through `latest`, whether the folder was installed for the print administrators' group
// (whose the files then are) or made by an older version that let everyone look; the user who
// printed reads their own job through an ACL where the file system has them.
TEST(BackendFolder, PreviewsAreReadByTheirOwnersAlone) {
  if (!lpUser()) GTEST_SKIP() << "needs root, to run the backend as lp and look as other users";
  // Copies: each look-up overwrites the last one's answer.
  const passwd lpCopy = *lpUser(), *lp = &lpCopy;
  ASSERT_TRUE(getpwnam("nobody") && getpwnam("daemon"));
  const passwd otherCopy = *getpwnam("nobody"), *other = &otherCopy;
  const passwd printingCopy = *getpwnam("daemon"), *printing = &printingCopy;
  const group *admins = getgrnam("lpadmin");
  struct Case {
    const char *folder;
    gid_t group;
    mode_t mode, after;
  };
  const Case cases[] = {{"as installed", admins ? admins->gr_gid : lp->pw_gid, 02751, 02751},
                        {"of an older version", lp->pw_gid, 0755, 0751}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path root = scratch("case") / "rx5k-emu", older = root / "job-7";
    for (const fs::path &p : {root, older}) {
      fs::create_directories(p);
      chown(p.c_str(), lp->pw_uid, c.group);
      chmod(p.c_str(), c.mode);
    }
    const Outcome o = runBackend(uri(root), labelStream(1), 18, lp, "8", "", "daemon");
    ASSERT_EQ(o.status, 0) << o.output;
    const fs::path job = root / "job-8";
    EXPECT_EQ(statOf(root).st_mode, S_IFDIR | c.after);
    for (const fs::path &folder : {job, older})
      EXPECT_EQ(statOf(folder).st_mode & 0777, 0750u) << folder;
    for (const char *file : {"printer.log", "label-1.png"}) {
      EXPECT_EQ(statOf(job / file).st_mode, S_IFREG | 0640) << file;
      EXPECT_EQ(statOf(job / file).st_gid, c.group) << file;
    }
    for (const fs::path &p :
         {root, older, job, job / "printer.log", root / "latest" / "label-1.png"})
      EXPECT_FALSE(readableAs(other, p)) << p;
    EXPECT_FALSE(readableAs(printing, root));
    if (getxattr(root.c_str(), "system.posix_acl_access", nullptr, 0) < 0 && errno == EOPNOTSUPP) {
      EXPECT_NE(o.output.find("DEBUG: no ACL lets the user who printed read " + job.string() +
                              " (the file system has none)"),
                std::string::npos)
          << o.output;
      continue;  // nothing lets the user who printed in
    }
    for (const fs::path &p : {job, job / "printer.log", root / "latest" / "label-1.png"})
      EXPECT_TRUE(readableAs(printing, p)) << p;
  }
}

// Each cap ends the job with its reason: CUPS_BACKEND_CANCEL (5), so that the queue goes on; a
// stream that cannot be parsed fails the job (1). The last three streams once made labels of
// hundreds of megabytes each: within 512 MiB a graphic beyond the default page cap is refused
// before it is allocated, and recalling a graphic over and over ends at the job's dots or at
// the work of decoding, whichever comes first.
TEST(BackendCaps, JobsEndWithTheirReasonWithinMemory) {
  std::string commands, recalls;
  for (int i = 0; i < 50; i++) commands += "^XA^XZ\n";
  for (int i = 0; i < 1000; i++) recalls += "^XA^XGR:A^XZ";
  const std::string thermalPage =
      std::string("\x1F\x11\x35\x00\x1D\x76\x30\x00\x04\x00\x03\x00", 12) +
      std::string(12, '\xAA');  // 32 x 3 dots
  struct Case {
    int model;
    std::string query, stream;
    int exitStatus;
    std::string error;  // OUT: the folder
  };
  const std::string cancelled = "job cancelled: ", label = cancelled + "label stream: offset ";
  const Case cases[] = {
      {18, "max-job-bytes=64", commands, 5,
       cancelled + "the job's stream is longer than 64 bytes (max-job-bytes)"},
      {18, "max-page-dots=40", labelStream(1), 5,
       label + "0: graphic of 16 x 3 dots is larger than the decoder accepts"},
      {18, "max-job-dots=100", labelStream(3), 5,
       label + "63: label 3 would bring the job to more than 100 dots"},
      {22, "max-page-dots=64", thermalPage, 5,
       cancelled + "page 1 has 96 dots, more than 64 (max-page-dots)"},
      {18, "max-job-files=4", labelStream(2), 5,
       cancelled + "cannot create OUT/job-8/label-2.png: the job has 4 files, the most it may "
                   "have (max-job-files)"},
      {18, "max-total-bytes=2K", commands, 5,
       cancelled + "the job's files would take more than 2048 bytes of disk (max-total-bytes)"},
      {18, "max-total-files=4", labelStream(2), 5,
       cancelled + "the job would have more than 4 files (max-total-files)"},
      {18, "max-decode-dots=239", labelStream(2), 5,
       label + "50: decoding the labels would take more than 239 dots of work (max-decode-dots)"},
      {22, "", "\x1F\x11\x99", 1, "printer stream error: offset 0: unknown command 1F 11 99"},
      {18, "", "~DGR:A,33554432,2048,\n" + std::string(16384, ',') + recalls, 5,
       label + "0: graphic of 16384 x 16384 dots is larger than the decoder accepts"},
      {18, "max-job-dots=64M", "~DGR:A,2097152,512,\n" + std::string(4096, ',') + recalls, 5,
       label + "4176: label 5 would bring the job to more than 67108864 dots"},
      {18, "max-decode-dots=256M", "~DGR:A,2097152,512,\n" + std::string(4096, ',') + recalls, 5,
       label + "4212: decoding the labels would take more than 268435456 dots of work " +
           "(max-decode-dots)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    const fs::path out = scratch("out");
    expectError(runBackend(uri(out, c.query), c.stream, c.model), c.exitStatus, c.error, out);
  }
  // Two labels of a 16 x 3 graphic: its download, two paints and two renders.
  EXPECT_EQ(runBackend(uri(scratch("out"), "max-decode-dots=240"), labelStream(2)).status, 0);
}

// The backend's folder is held to the disk that its files take, in whole blocks, and to the
// files of all job folders together: an older job of many one-byte files, or of blocks beyond
// its files' sizes, makes room; a sparse one takes only its blocks. The new job's own files
// count in whole blocks too.
TEST(BackendCaps, DiskInBlocksAndFilesOfAllJobFolders) {
  const passwd *lp = lpUser();
  const uid_t owner = lp ? lp->pw_uid : geteuid();
  auto files = [](int n) {
    return [n](const fs::path &job) {
      for (int i = 0; i < n; i++) std::ofstream(job / std::to_string(i)) << (n > 5 ? "x" : "");
    };
  };
  auto file = [](off_t allocated, off_t size) {
    return [=](const fs::path &job) {
      const int fd = open((job / "f").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      EXPECT_EQ(allocated ? fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, allocated) : 0, 0);
      EXPECT_EQ(size ? ftruncate(fd, size) : 0, 0);  // a truncation drops blocks past the end
      close(fd);
    };
  };
  struct Case {
    const char *older;
    std::function<void(const fs::path &job)> plant;
    std::string query;
    bool olderKept;
  };
  const Case cases[] = {
      {"600 files of a byte", files(600), "max-total-bytes=1M", false},
      {"2 MiB allocated to a file of no bytes", file(2 << 20, 0), "max-total-bytes=1M", false},
      {"a sparse file of 1 GiB", file(0, off_t{1} << 30), "max-total-bytes=1M", true},
      {"5 files, 10 with the new job's", files(5), "max-total-files=10", true},
      {"5 files, 10 with the new job's, one too many", files(5), "max-total-files=9", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.older);
    const fs::path root = scratch("case") / "out", older = root / "job-7";
    fs::create_directories(older);
    c.plant(older);
    for (const auto &e : fs::recursive_directory_iterator(root))
      chown(e.path().c_str(), owner, static_cast<gid_t>(-1));
    chown(root.c_str(), owner, static_cast<gid_t>(-1));
    const Outcome o = runBackend(uri(root, c.query), labelStream(2), 18, lp);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(fs::exists(older), c.olderKept);
  }

  const fs::path out = scratch("own");
  ASSERT_EQ(runBackend(uri(out), labelStream(2)).status, 0);
  const uintmax_t block = static_cast<uintmax_t>(statOf(out).st_blksize);
  uintmax_t need = 0;
  for (const auto &e : fs::directory_iterator(out / "job-8"))
    need += (e.file_size() + block - 1) / block * block;
  const std::string cap = "max-total-bytes=" + std::to_string(need);
  EXPECT_EQ(runBackend(uri(scratch("fits"), cap), labelStream(2)).status, 0);
  const fs::path tight = scratch("tight");
  expectError(runBackend(uri(tight, "max-total-bytes=" + std::to_string(need - 1)), labelStream(2)),
              5,
              "job cancelled: the job's files would take more than " + std::to_string(need - 1) +
                  " bytes of disk (max-total-bytes)",
              tight);
}

// The job's CPU time is limited as the device URI says; the kernel's signal ends the job with
// its reason, as a cap does (the test sends the signal rather than wait for it).
TEST(BackendCaps, CpuTimeEndsTheJobWithItsReason) {
  const fs::path out = scratch("out");
  std::string limit;
  const Outcome o = runBackend(
      uri(out, "max-cpu-seconds=7"), "^XA", 18, nullptr, "8", "", "user", [&](pid_t pid) {
        // The limit is set before the job's files are made.
        for (int i = 0; i < 60000 && !fs::exists(out / "job-8" / "pages.tsv"); i++) usleep(1000);
        std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
        for (std::string line; std::getline(limits, line);)
          if (line.rfind("Max cpu time", 0) == 0) limit = line.substr(12);
        kill(pid, SIGXCPU);
      });
  std::istringstream fields(limit);
  std::string soft, hard;
  fields >> soft >> hard;
  EXPECT_EQ(soft + " " + hard, "7 12") << limit;
  expectError(o, 5,
              "job cancelled: the job used 7 seconds of CPU time, the most it may use "
              "(max-cpu-seconds)",
              out);
}

// The emulator program replaces what its folder holds: a link is not written through, and a FIFO
// does not block it.
TEST(ProgramFolder, ReplacesFilesWithoutFollowingThem) {
  const fs::path dir = scratch("out");
  std::ofstream(dir / "precious") << "kept";
  fs::create_symlink(dir / "precious", dir / "printer.log");
  mkfifo((dir / "printer.bin").c_str(), 0644);
  EXPECT_EQ(run({"rx5k-emulator", "--ppd", ppdtest::modelPpd(22), "--out", dir.string(), "--filter",
                 "/bin/true", "--", ""})
                .status,
            0);
  EXPECT_EQ(readFile(dir / "precious"), "kept");
  for (const char *file : {"printer.log", "printer.bin"})
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / file))) << file;
}
