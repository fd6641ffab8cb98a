#include "png_file.h"

#include <png.h>

#include <cstring>

namespace lxsnap {

std::string writePngFile(const std::string& path, const Image& image) {
  if ((image.channels != 1 && image.channels != 3) ||
      image.pixels.size() != size_t{image.width} * image.height * image.channels) {
    return "not an 8-bit grey or 24-bit colour image";
  }
  // The simplified interface reports errors in the structure instead of
  // jumping out of this function.
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = image.channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_BGR;
  const png_int_32 stride = static_cast<png_int_32>(image.width * image.channels);
  if (png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), stride, nullptr) == 0) {
    std::string reason = png.message[0] != '\0' ? png.message : "cannot write the file";
    png_image_free(&png);
    return reason;
  }
  return "";
}

}  // namespace lxsnap
