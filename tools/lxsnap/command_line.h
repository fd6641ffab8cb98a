// lxsnap's command line: what to do and with which video settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "lx/video_card.h"
#include "lx/video_types.h"
#include "window_geometry.h"

namespace lxsnap {

enum class Mode { Snap, List, Stream };
enum class FileKind { Bmp, Png, Raw };

// The card and how it digitises; unset values keep the card's own defaults.
struct VideoSettings {
  int32_t card = 1;
  std::optional<LxVideoSource> input;
  std::optional<int32_t> standard;
  int32_t format = LX_VIDEO_FORMAT_RGB888;
  int32_t scan = LX_SCAN_MODE_FRAME;
  WindowGeometry window;
};

struct Options {
  Mode mode = Mode::Snap;
  VideoSettings video;
  uint16_t frames = 5;
  std::string directory = ".";
  FileKind fileKind = FileKind::Bmp;
  double seconds = 5;  // 0: until interrupted
};

// Exit code for a command line that cannot be used.
inline constexpr int kUsageExit = 2;

// Fills *options. Returns nothing when lxsnap should go on, else the exit
// code (0 after --help; kUsageExit after a message on stderr).
std::optional<int> parseCommandLine(int argc, char** argv, Options* options);

const char* fileExtension(FileKind kind);

}  // namespace lxsnap
