// The PPD files the program carries, one per driver: the same files the filter's queues use,
// read with libcups's PPD reader.
#pragma once

#include <cups/ppd.h>

#include <cstddef>
#include <memory>
#include <string>

namespace app {

struct EmbeddedPpd {
  const char *name;  // the PPD's file name without ".ppd": the driver's name
  const char *text;
};
extern const EmbeddedPpd kEmbeddedPpds[];
extern const size_t kEmbeddedPpdCount;

struct PpdCloser {
  void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

// The embedded PPD of driver name, opened; null when there is none or it does not parse.
PpdFile openEmbeddedPpd(const std::string &name);

}  // namespace app
