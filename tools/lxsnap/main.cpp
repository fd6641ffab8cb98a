// lxsnap: opens card 1 through the public API, shows the card count and the
// board's identity, snaps a few frames into the static memory and writes
// each one as a 24-bit bitmap file, with one line per frame: its file, size
// and checksum. Boots the default machine when none runs.
//
//   lxsnap [-n FRAMES] [-o DIRECTORY]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "bitmap_file.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"

namespace {

constexpr int kDefaultFrames = 5;
constexpr int kMostFrames = 1000;
constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;  // a frame: both fields

struct Options {
  int frames = kDefaultFrames;
  std::string directory = ".";
};

int usage() {
  std::fprintf(stderr, "usage: lxsnap [-n FRAMES] [-o DIRECTORY]   (FRAMES 1 to %d, default %d)\n", kMostFrames,
               kDefaultFrames);
  return 2;
}

bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      return false;
    }
    const char* value = argv[++i];
    if (flag == "-n") {
      char* end = nullptr;
      const long frames = std::strtol(value, &end, 10);
      if (*value == '\0' || *end != '\0' || frames < 1 || frames > kMostFrames) {
        return false;
      }
      options->frames = static_cast<int>(frames);
    } else if (flag == "-o") {
      options->directory = value;
    } else {
      return false;
    }
  }
  return true;
}

int fail(const char* what, LxStatus status) {
  std::fprintf(stderr, "lxsnap: %s: %s (%d)\n", what, LxGetErrorString(status), status);
  return 1;
}

// FNV-1a over the frame's bytes.
uint32_t checksum(const uint8_t* bytes, uint32_t count) {
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < count; ++i) {
    hash = (hash ^ bytes[i]) * 16777619u;
  }
  return hash;
}

void printBoard(LxCardHandle card) {
  uint8_t signature[2] = {};
  uint8_t identity[12] = {};
  uint8_t low = 0, high = 0;
  if (LxGetBoardInfo(card, 0, signature) == LX_OK) {
    std::printf("board signature: %c%c\n", signature[0] >= 32 ? signature[0] : '?',
                signature[1] >= 32 ? signature[1] : '?');
  }
  if (LxGetBoardInfo(card, 1, identity) == LX_OK) {
    std::printf("board identity:");
    for (uint8_t byte : identity) {
      std::printf(" %02x", byte);
    }
    std::printf("\n");
  }
  if (LxGetBoardInfo(card, 4, &low) == LX_OK && LxGetBoardInfo(card, 5, &high) == LX_OK) {
    std::printf("board revision: %u.%u\n", high, low);
  }
}

// Snaps the frames and writes them; the card stays open for the caller to end.
int snapAndWrite(LxCardHandle card, const Options& options) {
  if (LxStatus status = LxSetVideoFormat(card, LX_VIDEO_FORMAT_RGB888); status != LX_OK) {
    return fail("setting the video format", status);
  }
  if (LxStatus status = LxSetOutputWindow(card, 0, 0, kWidth, kHeight); status != LX_OK) {
    return fail("setting the output window", status);
  }
  const uint32_t frameBytes = kWidth * kHeight * 3;
  if (LxStatus status = LxSnapShot(card, 0, 0, 1, static_cast<uint16_t>(options.frames)); status != LX_OK) {
    return fail("snapping", status);
  }
  std::printf("snapped %d frames of %ux%u\n", options.frames, kWidth, kHeight);
  for (int frame = 0; frame < options.frames; ++frame) {
    LxStaticMemLockHandle lock = nullptr;
    void* address = nullptr;
    if (LxStatus status = LxStaticMemLock(static_cast<uint32_t>(frame) * frameBytes, frameBytes, &lock, &address);
        status != LX_OK) {
      return fail("mapping a frame", status);
    }
    const auto* pixels = static_cast<const uint8_t*>(address);
    const std::string path = options.directory + "/frame" + std::to_string(frame) + ".bmp";
    const bool written = lxsnap::writeBitmap24(path, pixels, kWidth, kHeight);
    const uint32_t sum = checksum(pixels, frameBytes);
    LxStaticMemUnlock(lock);
    if (!written) {
      std::fprintf(stderr, "lxsnap: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    std::printf("frame %d: %s %u bytes checksum %08x\n", frame, path.c_str(), frameBytes, sum);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    return usage();
  }
  if (::mkdir(options.directory.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "lxsnap: cannot create %s: %s\n", options.directory.c_str(), std::strerror(errno));
    return 1;
  }
  int32_t total = 0;
  if (LxStatus status = LxGetCardTotal(&total); status != LX_OK) {
    return fail("counting the cards", status);
  }
  std::printf("cards: %d\n", total);
  LxCardHandle card = nullptr;
  if (LxStatus status = BeginLxCard(1, &card); status != LX_OK) {
    return fail("opening card 1", status);
  }
  printBoard(card);
  const int result = snapAndWrite(card, options);
  if (LxStatus status = EndLxCard(card); status != LX_OK) {
    return fail("ending card 1", status);
  }
  return result;
}
