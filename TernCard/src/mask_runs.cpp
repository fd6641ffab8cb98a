#include "mask_runs.h"

namespace terncard {

uint32_t maskLineRuns(const uint8_t* maskLine, uint32_t width, uint16_t* runs) {
  uint32_t count = 0;
  forEachMaskRun(maskLine, width, [&](uint16_t run, bool, bool) { runs[count++] = run; });
  return count;
}

}  // namespace terncard
