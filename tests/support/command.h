// Shell commands for the tests that drive real clients: run one, and quote its arguments.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace apptest {

// A shell command's exit status (-1 if it could not run) and its standard output and error.
struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult commandOutput(const std::string &command) {
  CommandResult r;
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Single-quoted for /bin/sh.
inline std::string shellQuote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Writes a PDF file of pages of the size in points, each drawn by its PostScript; false if
// Ghostscript failed.
inline bool pdfOf(const std::string &pdf, double widthPt, double lengthPt,
                  const std::vector<std::string> &pages) {
  std::string ps = "<< /PageSize [" + std::to_string(widthPt) + " " + std::to_string(lengthPt) +
                   "] >> setpagedevice";
  for (const std::string &page : pages) ps += " " + page + " showpage";
  return commandOutput("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" +
                       shellQuote(pdf) + " -c " + shellQuote(ps))
             .status == 0;
}

}  // namespace apptest
