// 8-bit gray PNG files of decoded pages (0 black, 255 white), written with libpng.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace emu {

struct GrayImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> dots;  // row-major, width x height
};

// Writes the image to an open file; on failure returns false with the reason in error.
bool writeGrayPng(std::FILE *file, const GrayImage &image, std::string &error);
// Reads any PNG as 8-bit gray; on failure returns false with the reason in error.
bool readGrayPng(const std::string &path, GrayImage &image, std::string &error);

// Share of black (0) dots in percent.
double blackPercent(const GrayImage &image);

}  // namespace emu
