// Shared pieces of the end-to-end tests: scratch files per test and the project's PPDs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace e2e {

// A scratch folder of the current test under the build tree.
std::string scratchDir();
// Writes pages to a raster file in the scratch folder and returns its path.
std::string rasterFile(const std::vector<rastertest::RasterPage> &pages,
                       const std::string &name = "job.ras");
// Writes a test PPD into the scratch folder and returns its path.
std::string ppdFile(const ppdtest::TestPpd &ppd, const std::string &name = "printer.ppd");
// A project PPD compiled by the build (build/ppd/NAME).
std::string projectPpd(const std::string &name);

// Counts non-overlapping occurrences of needle in haystack.
size_t countOf(const std::string &haystack, const std::string &needle);
// The bytes as a string (for binary needles with NULs).
std::string bytes(std::initializer_list<int> values);

}  // namespace e2e
