// The display as the DMA programs of live capture see it.
#include "dma_program.h"
#include "process_display.h"

namespace terncard {

DisplayGeometry processDisplayGeometry() {
  const ProcessDisplay& display = processDisplay();
  const int32_t pitch = screenSize().width + display.pitchSurplusPixels;
  return {pitch > 0 ? static_cast<uint32_t>(pitch) : 0u, static_cast<int32_t>(display.info.OriginX),
          static_cast<int32_t>(display.info.OriginY)};
}

void BuildDmaProgram(TernCardContext* context, const ProgramTarget& target, uint32_t frames, uint32_t start) {
  BuildDmaProgram(context, target, frames, start, processDisplayGeometry());
}

}  // namespace terncard
