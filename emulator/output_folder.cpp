// Job folders and their files, through descriptors of folders that were checked once opened:
// nothing is looked up by path below the folder, so a link swapped in later changes nothing.
#include "output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace emu {

namespace {

// Previews show what users printed: the backend's user and the folder's group (the print
// administrators, when the folder was installed so) read them, other users do not. Others may
// pass through the backend's folder, without listing it, to a job folder that an ACL opens to
// the user who printed.
constexpr mode_t kFileMode = 0640;
constexpr mode_t kFolderMode = 0750;
constexpr mode_t kRootMode = 0751;
constexpr unsigned long long kDefaultBlock = 4096;

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

// Gives the folder or file `mode` whatever the umask took away, keeping the setgid bit that it
// inherited: only a mode that differs is set, since a chmod by a user outside the folder's group
// clears that bit. False with errno.
bool setMode(int fd, mode_t mode) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return (st.st_mode & 0777) == mode || fchmod(fd, mode | (st.st_mode & S_ISGID)) == 0;
}

// A folder made by the backend, opened and checked, with `mode`. -1 with the reason.
int makeOwnFolder(int at, const std::string &name, const std::string &path, mode_t mode,
                  std::string &error) {
  if (mkdirat(at, name.c_str(), mode) != 0) {
    error = systemError("cannot create " + path);
    return -1;
  }
  int fd = openOwnFolder(at, name, path, error);
  if (fd >= 0 && !setMode(fd, mode)) {
    error = systemError("cannot set the mode of " + path);
    closeFd(fd);
  }
  return fd;
}

// Lets user `reader` read a file, or list and enter a folder, beside what its mode allows: a
// POSIX access ACL as the kernel stores it (little-endian entries sorted by tag), which the
// owner may set without privilege. False with errno (EOPNOTSUPP: the file system has none).
bool grantReader(int fd, uid_t reader) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  const unsigned readerBits = S_ISDIR(st.st_mode) ? 5 : 4;
  const unsigned group = (st.st_mode >> 3) & 7;
  const unsigned anyone = 0xFFFFFFFF;
  const unsigned entries[][3] = {{0x01, (st.st_mode >> 6) & 7u, anyone},
                                 {0x02, readerBits, reader},
                                 {0x04, group, anyone},
                                 {0x10, group | readerBits, anyone},  // the mask
                                 {0x20, st.st_mode & 7u, anyone}};
  std::string acl;
  auto put = [&](unsigned value, int bytes) {
    for (int i = 0; i < bytes; i++) acl += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  put(2, 4);  // the format's version
  for (const auto &e : entries) put(e[0], 2), put(e[1], 2), put(e[2], 4);
  return fsetxattr(fd, "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
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

unsigned long long diskBytes(const struct stat &st) {
  return static_cast<unsigned long long>(st.st_blocks) * 512;
}

// Disk that a job folder takes, itself and its entries, as allocated (a sparse file counts its
// blocks, a small file the whole block it takes); `files` gets the number of entries.
unsigned long long folderDisk(int folder, unsigned long long &files) {
  struct stat st;
  unsigned long long bytes = fstat(folder, &st) == 0 ? diskBytes(st) : 0;
  files = 0;
  forEachEntry(folder, [&](const std::string &name) {
    files++;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) bytes += diskBytes(st);
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
    : dir_(dir), path_(std::move(path)), limits_(limits), summary_(summary), replace_(replace) {
  struct stat st;
  block_ = fstat(dir_, &st) == 0 && st.st_blksize > 0
               ? static_cast<unsigned long long>(st.st_blksize)
               : kDefaultBlock;
}

OutputFolder::~OutputFolder() {
  for (std::FILE *f : {log_, raw_, pageList_}) {
    if (f) std::fclose(f);
  }
  // The folder's ACL last: setting it clears the setgid bit (for a user outside the folder's
  // group), which gave every file of the job the folder's group.
  if (root_ >= 0) grant(dir_);
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
                                                std::string &error, const std::string &reader) {
  if (jobId.empty() || jobId.size() > 18 ||
      jobId.find_first_not_of("0123456789") != std::string::npos) {
    error = "the job ID is not a number: " + jobId;
    return nullptr;
  }
  struct stat st;
  int rootFd = openOwnFolder(AT_FDCWD, root, root, error);
  if (rootFd < 0 && lstat(root.c_str(), &st) != 0 && errno == ENOENT)
    rootFd = makeOwnFolder(AT_FDCWD, root, root, kRootMode, error);
  if (rootFd < 0) return nullptr;
  // A folder that others could list (as this backend once made it) keeps only their passage.
  if (fstat(rootFd, &st) == 0 && (st.st_mode & S_IROTH) &&
      fchmod(rootFd, st.st_mode & 07773) != 0) {
    error = systemError("cannot set the mode of " + root);
    closeFd(rootFd);
    return nullptr;
  }

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
  int jobFd = makeOwnFolder(rootFd, name, path, kFolderMode, error);
  if (jobFd < 0) {
    closeFd(rootFd);
    return nullptr;
  }
  std::unique_ptr<OutputFolder> folder(new OutputFolder(jobFd, path, limits, summary, false));
  folder->root_ = rootFd;
  if (const passwd *pw = reader.empty() ? nullptr : getpwnam(reader.c_str());
      pw && pw->pw_uid != geteuid()) {
    folder->hasReader_ = true;
    folder->reader_ = pw->pw_uid;
  } else if (summary && !reader.empty() && !pw) {
    std::fprintf(summary, "DEBUG: %s is no local user: no ACL lets them read %s\n", reader.c_str(),
                 path.c_str());
  }

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
    // Made when job folders were for all to see: closed to others now.
    if (older.st_mode & S_IRWXO) fchmod(fd, older.st_mode & 07770);
    unsigned long long files = 0;
    const unsigned long long bytes = folderDisk(fd, files);
    folder->older_.push_back({static_cast<long long>(older.st_mtime), entry, bytes, files});
    folder->olderBytes_ += bytes;
    folder->olderFiles_ += files;
    close(fd);
  });
  std::sort(folder->older_.begin(), folder->older_.end(), [](const auto &a, const auto &b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  if (folder->makeRoom(0, 0, error) != SinkStatus::Ok || !folder->openFiles(error)) return nullptr;
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
  if (SinkStatus s = makeRoom(0, 1, error); s != SinkStatus::Ok) return s;
  if (replace_ && unlinkat(dir_, name.c_str(), 0) != 0 && errno != ENOENT) {
    error = systemError("cannot replace " + path);
    return SinkStatus::Failed;
  }
  int fd =
      openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0 || !setMode(fd, kFileMode) || !(file = fdopen(fd, "wb"))) {
    error = systemError("cannot create " + path);
    if (fd >= 0) close(fd);
    return SinkStatus::Failed;
  }
  grant(fd);
  files_++;
  return SinkStatus::Ok;
}

std::FILE *OutputFolder::create(const std::string &name, std::string &error) {
  std::FILE *file = nullptr;
  return createFile(name, file, error) == SinkStatus::Ok ? file : nullptr;
}

void OutputFolder::grant(int fd) {
  if (!hasReader_ || grantReader(fd, reader_)) return;
  if (summary_)
    std::fprintf(summary_, "DEBUG: no ACL lets the user who printed read %s (%s)\n", path_.c_str(),
                 errno == EOPNOTSUPP ? "the file system has none" : std::strerror(errno));
  hasReader_ = false;  // said once
}

unsigned long long OutputFolder::disk(unsigned long long size) const {
  return (size + block_ - 1) / block_ * block_;
}

SinkStatus OutputFolder::makeRoom(unsigned long long bytes, unsigned long long files,
                                  std::string &error) {
  while ((olderBytes_ + disk_ + bytes > limits_.totalBytes ||
          olderFiles_ + files_ + files > limits_.totalFiles) &&
         !older_.empty()) {
    const OlderJob oldest = older_.front();
    older_.erase(older_.begin());
    olderBytes_ -= oldest.bytes;
    olderFiles_ -= oldest.files;
    std::string reason;
    removeJobFolder(root_, oldest.name, oldest.name, reason);
  }
  if (disk_ + bytes > limits_.totalBytes) {
    error = "the job's files would take more than " + std::to_string(limits_.totalBytes) +
            " bytes of disk (max-total-bytes)";
  } else if (files_ + files > limits_.totalFiles) {
    error = "the job would have more than " + std::to_string(limits_.totalFiles) +
            " files (max-total-files)";
  } else {
    return SinkStatus::Ok;
  }
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
    const unsigned long long taken = disk(static_cast<unsigned long long>(bytes));
    if (SinkStatus s = makeRoom(taken, 0, error); s != SinkStatus::Ok) {
      unlinkat(dir_, name.c_str(), 0);
      files_--;
      return s;
    }
    disk_ += taken;
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
  const SinkStatus s = append(pageList_, kPageListFile, listBytes_, entry, error);
  std::fflush(pageList_);
  return s;
}

SinkStatus OutputFolder::stream(const unsigned char *data, size_t n, std::string &error) {
  return append(raw_, kRawStreamFile, rawBytes_, {reinterpret_cast<const char *>(data), n}, error);
}

SinkStatus OutputFolder::line(std::string_view text, std::string &error) {
  return append(log_, kCommandLogFile, logBytes_, std::string(text) + '\n', error);
}

SinkStatus OutputFolder::append(std::FILE *file, const char *name, unsigned long long &size,
                                std::string_view bytes, std::string &error) {
  const unsigned long long more = disk(size + bytes.size()) - disk(size);
  if (SinkStatus s = makeRoom(more, 0, error); s != SinkStatus::Ok) return s;
  disk_ += more;
  size += bytes.size();
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
