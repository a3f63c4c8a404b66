// Opening an embedded PPD: libcups reads PPDs from descriptors only, so the text goes through an
// anonymous memory file.
#include "ppd_catalog.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace app {

PpdFile openEmbeddedPpd(const std::string &name) {
  for (size_t i = 0; i < kEmbeddedPpdCount; i++) {
    if (name != kEmbeddedPpds[i].name) continue;
    const char *text = kEmbeddedPpds[i].text;
    const int fd = memfd_create("ppd", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    const size_t size = std::strlen(text);
    size_t done = 0;
    for (ssize_t n; done < size && (n = write(fd, text + done, size - done)) > 0;)
      done += static_cast<size_t>(n);
    PpdFile ppd;
    if (done == size && lseek(fd, 0, SEEK_SET) == 0) ppd.reset(ppdOpenFd(fd));
    close(fd);
    return ppd;
  }
  return nullptr;
}

}  // namespace app
