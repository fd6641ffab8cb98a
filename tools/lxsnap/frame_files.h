// One snapped frame into one file of the chosen kind.
#pragma once

#include <cstdint>
#include <string>

#include "card_session.h"
#include "command_line.h"

namespace lxsnap {

// DIR/frame000.bmp, DIR/frame001.bmp, ...
std::string framePath(const std::string& directory, uint32_t frame, FileKind kind);

// Writes the frame at `frame` (layout.bytes() bytes). "" when written, else
// why not. *description says what was written ("640x480 24-bit colour").
std::string writeFrameFile(const std::string& path, const uint8_t* frame, const FrameLayout& layout, FileKind kind,
                           std::string* description);

}  // namespace lxsnap
