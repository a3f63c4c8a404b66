// PNG output through libpng's simplified API.
#include "page_png.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace emu {

bool writeGrayPng(std::FILE *file, const GrayImage &image, std::string &error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.dots.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    error = "cannot write an empty or inconsistent image";
    return false;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_GRAY;
  if (!png_image_write_to_stdio(&png, file, 0, image.dots.data(), 0, nullptr)) {
    error = png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

bool readGrayPng(const std::string &path, GrayImage &image, std::string &error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_GRAY;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.dots.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.dots.data(), 0, nullptr)) {
    error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

double blackPercent(const GrayImage &image) {
  if (image.dots.empty()) return 0.0;
  size_t black = static_cast<size_t>(std::count(image.dots.begin(), image.dots.end(), 0));
  return 100.0 * static_cast<double>(black) / static_cast<double>(image.dots.size());
}

}  // namespace emu
