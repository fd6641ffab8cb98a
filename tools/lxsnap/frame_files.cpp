#include "frame_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bitmap_file.h"
#include "frame_image.h"
#include "lx/video.h"
#include "png_file.h"
#include "video_names.h"

namespace lxsnap {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool writeRawFile(const std::string& path, const uint8_t* bytes, size_t count) {
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    return false;
  }
  const bool written = std::fwrite(bytes, 1, count, out.get()) == count;
  return std::fflush(out.get()) == 0 && written;
}

std::string sizeText(uint32_t width, uint32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

std::string framePath(const std::string& directory, uint32_t frame, FileKind kind) {
  char name[32];
  std::snprintf(name, sizeof name, "frame%03u.%s", frame, fileExtension(kind));
  return directory + "/" + name;
}

std::string writeFrameFile(const std::string& path, const uint8_t* frame, const FrameLayout& layout, FileKind kind,
                           std::string* description) {
  if (kind == FileKind::Raw) {
    if (!writeRawFile(path, frame, layout.bytes())) {
      return std::strerror(errno);
    }
    *description = sizeText(layout.width, layout.lines) + " " + nameOf(formatNames(), layout.format) + ", " +
                   std::to_string(layout.lineBytes()) + " bytes a line";
    return "";
  }
  Image image;
  if (const LxStatus status = frameToImage(frame, layout, &image); status != LX_OK) {
    return std::string("converting the frame: ") + LxGetErrorString(status);
  }
  *description = sizeText(image.width, image.height) + (image.channels == 1 ? " 8-bit grey" : " 24-bit colour");
  if (kind == FileKind::Png) {
    return writePngFile(path, image);
  }
  return writeBitmapFile(path, image) ? "" : std::strerror(errno);
}

}  // namespace lxsnap
