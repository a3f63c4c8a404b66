// One emulator run as a program: reads the PPD's model number, sets up the printer and its
// output folder, runs the filter under it and turns the outcome into the exit status.
#pragma once

#include <string>

#include "emulator_options.h"

namespace emu {

// The filter's standard error, in the output folder.
inline constexpr const char *kFilterStderrFile = "filter-stderr.txt";

// Model number and ModelName of a PPD (libcups); false when it cannot be read.
bool readPpdModel(const std::string &path, int &model, std::string &modelName, std::string &error);

// programPath: the emulator's own path (the default filter lies beside it).
int runEmulatorJob(const EmulatorOptions &options, const std::string &programPath);

}  // namespace emu
