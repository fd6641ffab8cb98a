// Rules that differ by card type: how a start function's result maps to a
// status, where the context keeps what the API reads at open, and which
// input code each video source has.
#pragma once

#include <cstdint>

#include "lx/internal/card_record.h"
#include "lx/status.h"
#include "lx/video_card.h"

namespace lxvideo {

// LX_OK when the result is a context.
LxStatus beginResultStatus(int32_t cardTypeIndex, uint64_t result);

// Sets up the mask and copies scan mode, output window and overlay flag
// from the card library's context into the record.
LxStatus readCardContext(LxCardRecord* record);

// The one-byte input code of a source, or false for a source the type does not have.
bool videoSourceCode(int32_t cardTypeIndex, LxVideoSource source, uint8_t* code);

}  // namespace lxvideo
