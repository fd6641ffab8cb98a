// Writing an image as a PNG file (8-bit grey or 8-bit RGB) through libpng.
#pragma once

#include <string>

#include "frame_image.h"

namespace lxsnap {

// "" when written, else libpng's reason.
std::string writePngFile(const std::string& path, const Image& image);

}  // namespace lxsnap
