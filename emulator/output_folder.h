// The folder that receives one job's output as files: the command log, the raw stream, the page
// list and one PNG per page. Every file is created inside the opened folder (openat with
// O_CREAT | O_EXCL | O_NOFOLLOW, mode 0640 whatever the umask), so nothing planted in the folder
// (a link, a FIFO, another user's file) is ever written through or read from; the files and
// the disk they take are held to the caps.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "printer_output.h"

namespace emu {

// Files of a job's folder.
inline constexpr const char *kCommandLogFile = "printer.log";
inline constexpr const char *kRawStreamFile = "printer.bin";
inline constexpr const char *kPageListFile = "pages.tsv";  // number width height encoding frames
                                                           // file, tab-separated
// In the backend's folder: the newest job folder.
inline constexpr const char *kLatestLink = "latest";

class OutputFolder final : public PageSink, public CommandLog {
 public:
  // The emulator program's folder, run by a user on their own files: DIR itself, created if
  // missing; a file of an earlier run is replaced (removed, then created anew).
  static std::unique_ptr<OutputFolder> program(const std::string &dir, const PrinterLimits &limits,
                                               std::FILE *summary, std::string &error);
  // The backend's folder of job `jobId`: ROOT/job-ID, a new folder (0750, files 0640), with
  // ROOT/latest pointing at it. ROOT is created if missing (0751: others may pass, not list) and
  // must be a real folder of the backend's user that no other user may write to; one that others
  // may list loses that right. An existing job-ID is reused only when it is a folder of the
  // backend's user (the scheduler retries a job under its ID), and then emptied first. Older
  // job folders are removed, oldest first, while all of them together exceed the total caps.
  // `reader` (the user who printed), if a local user, may read the job's files through an ACL;
  // where the file system has none, a DEBUG line on `summary` says so.
  static std::unique_ptr<OutputFolder> job(const std::string &root, const std::string &jobId,
                                           const PrinterLimits &limits, std::FILE *summary,
                                           std::string &error, const std::string &reader = {});
  ~OutputFolder() override;
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  const std::string &path() const { return path_; }
  // Another file of the job (the filter's standard error), under the same rules; null with
  // the reason in error.
  std::FILE *create(const std::string &name, std::string &error);

  SinkStatus page(PrintedPage &page, std::string &error) override;
  SinkStatus stream(const unsigned char *data, size_t n, std::string &error) override;
  SinkStatus line(std::string_view text, std::string &error) override;
  void flush() override;

 private:
  struct OlderJob {
    long long modified;
    std::string name;
    unsigned long long bytes;  // of disk
    unsigned long long files;
  };
  OutputFolder(int dir, std::string path, const PrinterLimits &limits, std::FILE *summary,
               bool replace);
  bool openFiles(std::string &error);
  SinkStatus createFile(const std::string &name, std::FILE *&file, std::string &error);
  // Writes bytes to one of the job's files, whose size is `size`, within the caps; the system's
  // reason when it fails.
  SinkStatus append(std::FILE *file, const char *name, unsigned long long &size,
                    std::string_view bytes, std::string &error);
  // Disk that a file of `size` bytes takes: whole blocks.
  unsigned long long disk(unsigned long long size) const;
  // Room for `bytes` more disk and `files` more files within the total caps, removing older job
  // folders if need be.
  SinkStatus makeRoom(unsigned long long bytes, unsigned long long files, std::string &error);
  // Lets the reader read what fd is, if there is a reader and the file system lets it.
  void grant(int fd);

  int dir_;
  std::string path_;
  PrinterLimits limits_;
  std::FILE *summary_;
  bool replace_;
  int root_ = -1;                // the backend's folder, for removing older jobs
  std::vector<OlderJob> older_;  // oldest first
  unsigned long long olderBytes_ = 0;
  unsigned long long olderFiles_ = 0;
  unsigned long long block_;
  unsigned long long disk_ = 0;  // that the job's files take
  unsigned long long files_ = 0;
  unsigned long long logBytes_ = 0, rawBytes_ = 0, listBytes_ = 0;
  bool hasReader_ = false;
  uid_t reader_ = 0;
  std::FILE *log_ = nullptr;
  std::FILE *raw_ = nullptr;
  std::FILE *pageList_ = nullptr;
};

}  // namespace emu
