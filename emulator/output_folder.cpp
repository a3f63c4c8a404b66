// Job folders and their files, through descriptors of folders that were checked once opened:
// nothing is looked up by path below the folder, so a link swapped in later changes nothing.
#include "output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace emu {

namespace {

constexpr mode_t kFileMode = 0644;    // previews are for every user to see
constexpr mode_t kFolderMode = 0755;  // and so are the folders

std::string systemError(const std::string &what) {
  return what + ": " + std::strerror(errno);
}

std::string userText(uid_t uid) {
  const passwd *pw = getpwuid(uid);
  return "uid " + std::to_string(uid) + (pw ? std::string(" (") + pw->pw_name + ")" : "");
}

void closeFd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// What makes a folder unfit to hold the backend's files, or "" when it is fit.
std::string unfitFolder(const struct stat &st, const std::string &path) {
  if (!S_ISDIR(st.st_mode)) return path + " is not a folder";
  if (st.st_uid != geteuid())
    return path + " belongs to " + userText(st.st_uid) + ", not to the backend's user " +
           userText(geteuid());
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return path + " is writable by other users";
  return "";
}

// Opens a folder (at `at`, or by path when at is AT_FDCWD) without following a link, and checks
// that it is one of the backend's user's that nobody else may write to. -1 with the reason.
int openOwnFolder(int at, const std::string &name, const std::string &path, std::string &error) {
  int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    error = errno != ENOTDIR && errno != ELOOP ? systemError("cannot open " + path)
            : fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)
                ? path + " is a symbolic link"
                : path + " is not a folder";
    return -1;
  }
  if (fstat(fd, &st) != 0) {
    error = systemError("cannot check " + path);
  } else {
    error = unfitFolder(st, path);
  }
  if (!error.empty()) closeFd(fd);
  return fd;
}

// A folder made by the backend, opened and checked; readable by all whatever the umask (which
// can only have taken bits away). -1 with the reason.
int makeOwnFolder(int at, const std::string &name, const std::string &path, std::string &error) {
  if (mkdirat(at, name.c_str(), kFolderMode) != 0) {
    error = systemError("cannot create " + path);
    return -1;
  }
  int fd = openOwnFolder(at, name, path, error);
  if (fd >= 0 && fchmod(fd, kFolderMode) != 0) {
    error = systemError("cannot set the mode of " + path);
    closeFd(fd);
  }
  return fd;
}

template <class Entry>
void forEachEntry(int folder, Entry entry) {
  int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!d) {
    closeFd(fd);
    return;
  }
  while (const dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") entry(name);
  }
  closedir(d);
}

// Bytes of the files in a job folder.
unsigned long long folderBytes(int folder) {
  unsigned long long bytes = 0;
  forEachEntry(folder, [&](const std::string &name) {
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      bytes += static_cast<unsigned long long>(st.st_size);
  });
  return bytes;
}

// Removes a job folder of the backend's user and the files in it (links are removed, never
// followed); false with the reason.
bool removeJobFolder(int root, const std::string &name, const std::string &path,
                     std::string &error) {
  int fd = openOwnFolder(root, name, path, error);
  if (fd < 0) return false;
  forEachEntry(fd, [&](const std::string &entry) { unlinkat(fd, entry.c_str(), 0); });
  closeFd(fd);
  if (unlinkat(root, name.c_str(), AT_REMOVEDIR) != 0) {
    error = systemError("cannot remove " + path);
    return false;
  }
  return true;
}

bool isJobFolderName(const std::string &name) {
  return name.size() > 4 && name.compare(0, 4, "job-") == 0 &&
         name.find_first_not_of("0123456789", 4) == std::string::npos;
}

}  // namespace

OutputFolder::OutputFolder(int dir, std::string path, const PrinterLimits &limits,
                           std::FILE *summary, bool replace)
    : dir_(dir), path_(std::move(path)), limits_(limits), summary_(summary), replace_(replace) {}

OutputFolder::~OutputFolder() {
  for (std::FILE *f : {log_, raw_, pageList_}) {
    if (f) std::fclose(f);
  }
  closeFd(dir_);
  closeFd(root_);
}

std::unique_ptr<OutputFolder> OutputFolder::program(const std::string &dir,
                                                    const PrinterLimits &limits, std::FILE *summary,
                                                    std::string &error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir + ": " + ec.message();
    return nullptr;
  }
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = systemError("cannot open " + dir);
    return nullptr;
  }
  std::unique_ptr<OutputFolder> folder(new OutputFolder(fd, dir, limits, summary, true));
  if (!folder->openFiles(error)) return nullptr;
  return folder;
}

std::unique_ptr<OutputFolder> OutputFolder::job(const std::string &root, const std::string &jobId,
                                                const PrinterLimits &limits, std::FILE *summary,
                                                std::string &error) {
  if (jobId.empty() || jobId.size() > 18 ||
      jobId.find_first_not_of("0123456789") != std::string::npos) {
    error = "the job ID is not a number: " + jobId;
    return nullptr;
  }
  struct stat st;
  int rootFd = openOwnFolder(AT_FDCWD, root, root, error);
  if (rootFd < 0 && lstat(root.c_str(), &st) != 0 && errno == ENOENT)
    rootFd = makeOwnFolder(AT_FDCWD, root, root, error);
  if (rootFd < 0) return nullptr;

  const std::string name = "job-" + jobId;
  const std::string path = root + "/" + name;
  // Left by an earlier run of this job (the scheduler retries a job under its ID): made anew,
  // unless it is not a folder of the backend's user.
  if (fstatat(rootFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      !removeJobFolder(rootFd, name, path, error)) {
    error += "; refusing to use it";
    closeFd(rootFd);
    return nullptr;
  }
  int jobFd = makeOwnFolder(rootFd, name, path, error);
  if (jobFd < 0) {
    closeFd(rootFd);
    return nullptr;
  }
  std::unique_ptr<OutputFolder> folder(new OutputFolder(jobFd, path, limits, summary, false));
  folder->root_ = rootFd;

  // The newest job, replaced in one step so that a reader never finds it missing.
  const std::string temporary = ".latest-" + std::to_string(getpid());
  unlinkat(rootFd, temporary.c_str(), 0);
  if (symlinkat(name.c_str(), rootFd, temporary.c_str()) != 0 ||
      renameat(rootFd, temporary.c_str(), rootFd, kLatestLink) != 0) {
    error = systemError("cannot point " + root + "/" + kLatestLink + " at " + name);
    unlinkat(rootFd, temporary.c_str(), 0);
    return nullptr;
  }

  forEachEntry(rootFd, [&](const std::string &entry) {
    struct stat older;
    if (entry == name || !isJobFolderName(entry) ||
        fstatat(rootFd, entry.c_str(), &older, AT_SYMLINK_NOFOLLOW) != 0 ||
        !unfitFolder(older, entry).empty())
      return;
    int fd = openat(rootFd, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    folder->older_.push_back({static_cast<long long>(older.st_mtime), entry, folderBytes(fd)});
    folder->olderBytes_ += folder->older_.back().bytes;
    close(fd);
  });
  std::sort(folder->older_.begin(), folder->older_.end(), [](const auto &a, const auto &b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  if (folder->makeRoom(0, error) != SinkStatus::Ok || !folder->openFiles(error)) return nullptr;
  return folder;
}

bool OutputFolder::openFiles(std::string &error) {
  return createFile(kCommandLogFile, log_, error) == SinkStatus::Ok &&
         createFile(kRawStreamFile, raw_, error) == SinkStatus::Ok &&
         createFile(kPageListFile, pageList_, error) == SinkStatus::Ok;
}

SinkStatus OutputFolder::createFile(const std::string &name, std::FILE *&file, std::string &error) {
  const std::string path = path_ + "/" + name;
  if (files_ >= limits_.jobFiles) {
    error = "cannot create " + path + ": the job has " + std::to_string(files_) +
            " files, the most it may have (max-job-files)";
    return SinkStatus::OverLimit;
  }
  if (replace_ && unlinkat(dir_, name.c_str(), 0) != 0 && errno != ENOENT) {
    error = systemError("cannot replace " + path);
    return SinkStatus::Failed;
  }
  int fd =
      openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0 || fchmod(fd, kFileMode) != 0 || !(file = fdopen(fd, "wb"))) {
    error = systemError("cannot create " + path);
    if (fd >= 0) close(fd);
    return SinkStatus::Failed;
  }
  files_++;
  return SinkStatus::Ok;
}

std::FILE *OutputFolder::create(const std::string &name, std::string &error) {
  std::FILE *file = nullptr;
  return createFile(name, file, error) == SinkStatus::Ok ? file : nullptr;
}

SinkStatus OutputFolder::makeRoom(unsigned long long n, std::string &error) {
  while (olderBytes_ + written_ + n > limits_.totalBytes && !older_.empty()) {
    const OlderJob oldest = older_.front();
    older_.erase(older_.begin());
    olderBytes_ -= oldest.bytes;
    std::string reason;
    removeJobFolder(root_, oldest.name, oldest.name, reason);
  }
  if (written_ + n <= limits_.totalBytes) return SinkStatus::Ok;
  error = "the job's files would exceed " + std::to_string(limits_.totalBytes) +
          " bytes (max-total-bytes)";
  return SinkStatus::OverLimit;
}

SinkStatus OutputFolder::page(PrintedPage &page, std::string &error) {
  const GrayImage &image = page.image;
  const std::string name =
      std::string(page.label ? "label" : "page") + "-" + std::to_string(page.number) + ".png";
  std::string shown = "(no image)";
  if (image.width > 0 && image.height > 0) {
    std::FILE *png = nullptr;
    if (SinkStatus s = createFile(name, png, error); s != SinkStatus::Ok) return s;
    errno = 0;
    std::string pngError;
    const bool written = writeGrayPng(png, image, pngError);
    const long bytes = std::ftell(png);
    if (std::fclose(png) != 0 || !written || bytes < 0) {
      const std::string what = "cannot write " + path_ + "/" + name;
      error =
          (errno != 0 ? systemError(what) : what) + (pngError.empty() ? "" : " (" + pngError + ")");
      return SinkStatus::Failed;
    }
    written_ += static_cast<unsigned long long>(bytes);
    if (SinkStatus s = makeRoom(0, error); s != SinkStatus::Ok) {
      unlinkat(dir_, name.c_str(), 0);
      written_ -= static_cast<unsigned long long>(bytes);
      return s;
    }
    shown = path_ + "/" + name;
  }
  std::string how = page.encoding;
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on " " + std::string.
  if (page.encoding == "LZO") how.append(" ").append(std::to_string(page.frames)).append(" frames");
  if (summary_) {
    std::fprintf(summary_, "%s %d: %dx%d dots, %.1f%% black, %s -> %s\n",
                 page.label ? "label" : "page", page.number, image.width, image.height,
                 blackPercent(image), how.c_str(), shown.c_str());
    std::fflush(summary_);
  }
  const std::string entry = std::to_string(page.number) + "\t" + std::to_string(image.width) +
                            "\t" + std::to_string(image.height) + "\t" + page.encoding + "\t" +
                            std::to_string(page.frames) + "\t" + (shown[0] == '(' ? "" : shown) +
                            "\n";
  const SinkStatus s = append(pageList_, kPageListFile, entry, error);
  std::fflush(pageList_);
  return s;
}

SinkStatus OutputFolder::stream(const unsigned char *data, size_t n, std::string &error) {
  return append(raw_, kRawStreamFile, {reinterpret_cast<const char *>(data), n}, error);
}

SinkStatus OutputFolder::line(std::string_view text, std::string &error) {
  return append(log_, kCommandLogFile, std::string(text) + '\n', error);
}

SinkStatus OutputFolder::append(std::FILE *file, const char *name, std::string_view bytes,
                                std::string &error) {
  if (SinkStatus s = makeRoom(bytes.size(), error); s != SinkStatus::Ok) return s;
  written_ += bytes.size();
  // A failed flush of earlier bytes shows in the file's error flag.
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::ferror(file)) {
    error = systemError("cannot write " + path_ + "/" + name);
    return SinkStatus::Failed;
  }
  return SinkStatus::Ok;
}

void OutputFolder::flush() {
  for (std::FILE *f : {log_, raw_}) std::fflush(f);
}

}  // namespace emu
