// Writing an image as an uncompressed bitmap file: 24 bits per pixel for
// colour, 8 bits with a grey palette for grey.
#pragma once

#include <string>

#include "frame_image.h"

namespace lxsnap {

// False (errno set) when the file cannot be written.
bool writeBitmapFile(const std::string& path, const Image& image);

}  // namespace lxsnap
