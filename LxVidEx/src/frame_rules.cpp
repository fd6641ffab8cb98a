#include "frame_rules.h"

#include "lx/video_types.h"

namespace lxvidex {

bool countsFieldPairs(const RingShape& ring) {
  return ring.scanMode == LX_SCAN_MODE_FRAME && ring.interleave != 0;
}

bool isNewFrame(int32_t number, int32_t lastDelivered, const RingShape& ring) {
  if (number == lastDelivered) {
    return false;
  }
  if (countsFieldPairs(ring)) {
    // -1 / 2 is 0: numbers 0 and 1 (frame 0 being written) are not new at first.
    return number / 2 != lastDelivered / 2;
  }
  return !(lastDelivered == -1 && number == 0);
}

int32_t numbersPerFrame(const RingShape& ring) { return ring.scanMode == LX_SCAN_MODE_FRAME ? 2 : 1; }

int32_t numberRange(const RingShape& ring) { return ring.frames > 0 ? ring.frames * numbersPerFrame(ring) : 0; }

int32_t distinctNumbers(const RingShape& ring) {
  if (ring.frames <= 0) {
    return 0;
  }
  if (countsFieldPairs(ring)) {
    return ring.frames;  // two numbers a frame, one position
  }
  return ring.scanMode == LX_SCAN_MODE_FRAME ? 2 * ring.frames : ring.frames;
}

int32_t frameIndexOf(int32_t number, const RingShape& ring) {
  if (number < 0 || ring.frames <= 0) {
    return -1;
  }
  int32_t index = 0;
  int32_t entries = ring.frames;  // ring entries an index may name
  if (countsFieldPairs(ring)) {
    index = number >= 2 ? number / 2 - 1 : ring.frames - 1;
  } else {
    if (ring.scanMode == LX_SCAN_MODE_FRAME) {
      entries = 2 * ring.frames;  // fields stored apart: one entry per field
    }
    index = number > 0 ? number - 1 : entries - 1;
  }
  return index < entries ? index : -1;
}

}  // namespace lxvidex
