#include "process_display.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "lx/hmbseapi.h"

namespace terncard {

namespace {

std::atomic<int32_t> screenWidth{0};
std::atomic<int32_t> screenHeight{0};

}  // namespace

const ProcessDisplay& processDisplay() {
  static ProcessDisplay display;
  static std::once_flag taken;
  std::call_once(taken, [] {
    std::memset(&display, 0, sizeof display);
    display.available = HmbGetDisplayInfo(&display.info) != 0;
    display.pitchSurplusPixels =
        static_cast<int32_t>(display.info.PitchPixels) - static_cast<int32_t>(display.info.Width);
  });
  return display;
}

void storeScreenSize(ScreenSize size) {
  screenWidth.store(size.width, std::memory_order_relaxed);
  screenHeight.store(size.height, std::memory_order_relaxed);
}

ScreenSize screenSize() {
  return {screenWidth.load(std::memory_order_relaxed), screenHeight.load(std::memory_order_relaxed)};
}

}  // namespace terncard
