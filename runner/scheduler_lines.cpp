// The prefixes of the filter's scheduler and debug lines.
#include "scheduler_lines.h"

namespace runner {

namespace {
// (An empty line is the geometry's blank line; "balck" runs on into the next message.)
const char *const kPrefixes[] = {
    "DEBUG:",
    "ERROR:",
    "INFO:",
    "ATTR:",
    "PAGE:",
    "WARNING:",
    "STATE:",
    "mytest",
    "PrintMode is ",
    "balck",
    "buffer size is ",
    "density dis ",
    "density is ",
    "gray and graylevel is ",
    "nw is ",
    "process gray end",
    "vOffset is ",
    "width: ",
    "process rotate end",
};
}  // namespace

std::string lineTheFilterDidNotChoose(std::string_view log) {
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string_view::npos) end = log.size();
    const std::string_view line = log.substr(start, end - start);
    bool known = line.empty();
    for (const char *prefix : kPrefixes) known = known || line.rfind(prefix, 0) == 0;
    if (!known) return std::string(line);
    start = end + 1;
  }
  return "";
}

}  // namespace runner
