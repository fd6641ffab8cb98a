// The card the frame benchmarks snap from.
#pragma once

#include <benchmark/benchmark.h>

#include "lx/video_card.h"
#include "lx/video_types.h"

namespace lxbench {

// Card 1 with 8-bit grey frames of width x height; null, with the benchmark
// skipped, when it does not open (a half-set card is ended).
inline LxCardHandle openGreyCard(benchmark::State& state, int width, int height) {
  LxCardHandle card = nullptr;
  if (BeginLxCard(1, &card) != LX_OK) {
    state.SkipWithError("the card did not open");
    return nullptr;
  }
  if (LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL) != LX_OK ||
      LxSetOutputWindow(card, 0, 0, width, height) != LX_OK) {
    state.SkipWithError("the card did not take the grey format and window");
    EndLxCard(card);
    return nullptr;
  }
  return card;
}

}  // namespace lxbench
