// Card-library capture and snap functions as the public API calls them.
#pragma once

#include <stdint.h>

namespace lxvideo::card {

using Capture = int32_t (*)(uint64_t context, uint32_t enable);
using Snap = int32_t (*)(uint64_t context);
using CaptureToMem = int32_t (*)(uint64_t context, uint32_t address, uint32_t bytes, uint16_t waits, uint32_t mode,
                                 uint16_t frames);
using SnapToMem = int32_t (*)(uint64_t context, uint32_t address, uint32_t bytes, uint32_t mode, uint32_t frames);
using GetSnapToMemNumber = int32_t (*)(uint64_t context, int32_t* number);
using WaitVSync = int32_t (*)(uint64_t context);
using EnableOverlay = int32_t (*)(uint64_t context, int32_t enable);

}  // namespace lxvideo::card
