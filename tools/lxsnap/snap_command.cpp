#include "snap_command.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "card_session.h"
#include "frame_files.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "status_report.h"
#include "video_names.h"

namespace lxsnap {

namespace {

constexpr uint32_t kPageBytes = 4096;

// FNV-1a over the frame's bytes, so runs can be compared by eye.
uint32_t checksum(const uint8_t* bytes, uint32_t count) {
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < count; ++i) {
    hash = (hash ^ bytes[i]) * 16777619u;
  }
  return hash;
}

// The frames do not fit: says how many would.
void explainRoom(const FrameLayout& layout) {
  uint32_t pages = 0;
  if (LxGetStaticMem(&pages) == LX_OK && layout.bytes() != 0) {
    const uint64_t room = uint64_t{pages} * kPageBytes;
    std::fprintf(stderr, "The static memory holds %llu bytes: room for %llu frames of %u bytes.\n",
                 static_cast<unsigned long long>(room), static_cast<unsigned long long>(room / layout.bytes()),
                 layout.bytes());
  }
}

std::string describe(const Options& options, const FrameLayout& layout) {
  const VideoSettings& video = options.video;
  std::string text = "card " + std::to_string(video.card) + ": ";
  text += video.input ? inputName(*video.input) : std::string("the card's input");
  if (video.standard) {
    text += ", " + nameOf(standardNames(), *video.standard);
  }
  text += ", " + nameOf(formatNames(), video.format) + " " + toString(video.window) + ", scan " +
          nameOf(scanNames(), video.scan) + " (" + std::to_string(layout.width) + "x" + std::to_string(layout.lines) +
          ", " + std::to_string(layout.bytes()) + " bytes a frame)";
  return text;
}

// Maps frame `index` of the snap, writes it and prints its line.
bool writeFrame(const Options& options, const FrameLayout& layout, uint32_t index) {
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  if (const LxStatus status = LxStaticMemLock(index * layout.bytes(), layout.bytes(), &lock, &address);
      status != LX_OK) {
    reportFailure("mapping frame " + std::to_string(index), status);
    return false;
  }
  const auto* frame = static_cast<const uint8_t*>(address);
  const std::string path = framePath(options.directory, index, options.fileKind);
  std::string description;
  const std::string error = writeFrameFile(path, frame, layout, options.fileKind, &description);
  const uint32_t sum = checksum(frame, layout.bytes());
  if (const LxStatus status = LxStaticMemUnlock(lock); status != LX_OK) {
    reportFailure("unmapping frame " + std::to_string(index), status);
    return false;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "lxsnap: cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::printf("frame %u: %s %s, checksum %08x\n", index, path.c_str(), description.c_str(), sum);
  return true;
}

}  // namespace

int runSnap(const Options& options) {
  std::error_code error;
  std::filesystem::create_directories(options.directory, error);
  if (error) {
    std::fprintf(stderr, "lxsnap: cannot make the directory %s: %s\n", options.directory.c_str(),
                 error.message().c_str());
    return kFailureExit;
  }
  CardSession card;
  if (!card.open(options.video.card) || !card.apply(options.video)) {
    return kFailureExit;
  }
  const FrameLayout layout = frameLayoutOf(options.video);
  std::printf("%s\n", describe(options, layout).c_str());
  std::fflush(stdout);

  if (const LxStatus status = LxSnapShot(card.handle(), 0, 0, 1, options.frames); status != LX_OK) {
    reportFailure("snapping " + std::to_string(options.frames) + " frames", status);
    if (status == LX_ACCESS_DEVICE_MEMORY_DENIED) {
      explainRoom(layout);
    }
    return kFailureExit;
  }
  std::printf("snapped %u frame%s into the static memory\n", options.frames, options.frames == 1 ? "" : "s");
  for (uint32_t index = 0; index < options.frames; ++index) {
    if (!writeFrame(options, layout, index)) {
      return kFailureExit;
    }
  }
  return 0;
}

}  // namespace lxsnap
