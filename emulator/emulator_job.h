// One emulator run as a program: reads the PPD's model number, sets up the printer and its
// output folder, runs the filter under it and turns the outcome into the exit status.
#pragma once

#include <string>

#include "emulated_printer.h"
#include "emulator_options.h"

namespace emu {

// The filter's standard error, in the output folder.
inline constexpr const char *kFilterStderrFile = "filter-stderr.txt";

// Model number and ModelName of a PPD (libcups) into the printer's set-up; false when it cannot
// be read. Model 20's stream carries no row length: unless the set-up has one, it gets the row
// length of the page that a rasterizer makes from the PPD's defaults and the job's options
// (PageSize or media, Resolution), as the printer knows it from its loaded labels.
bool readPpdSetup(const std::string &path, const std::string &jobOptions, PrinterSetup &setup,
                  std::string &error);

// The row length in bytes of the first page of the raster on fd, as the filter packs its rows
// (0 when there is none); fd is read from its start and left there again.
int rowBytesOfFirstPage(int fd);

// programPath: the emulator's own path (the default filter lies beside it).
int runEmulatorJob(const EmulatorOptions &options, const std::string &programPath);

}  // namespace emu
