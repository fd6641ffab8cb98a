// Snaps one 24-bit frame of card 1 and prints the mean of each colour
// channel: the public API from C++, with the card and the static-memory
// window released by their owners on every path.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <lx/video.h>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

void check(LxStatus status, const char* what) {
  if (status != LX_OK) throw std::runtime_error(std::string(what) + ": " + LxGetErrorString(status));
}

class Card {
 public:
  explicit Card(int index) { check(BeginLxCard(index, &handle_), "opening the card"); }
  ~Card() { EndLxCard(handle_); }
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;
  LxCardHandle handle() const { return handle_; }

 private:
  LxCardHandle handle_ = nullptr;
};

class StaticWindow {
 public:
  StaticWindow(uint32_t offset, uint32_t length) {
    check(LxStaticMemLock(offset, length, &lock_, &address_), "mapping the frame");
  }
  ~StaticWindow() { LxStaticMemUnlock(lock_); }
  StaticWindow(const StaticWindow&) = delete;
  StaticWindow& operator=(const StaticWindow&) = delete;
  const uint8_t* bytes() const { return static_cast<const uint8_t*>(address_); }

 private:
  LxStaticMemLockHandle lock_ = nullptr;
  void* address_ = nullptr;
};

}  // namespace

int main() {
  try {
    Card card(1);
    check(LxSetVideoFormat(card.handle(), LX_VIDEO_FORMAT_RGB888), "choosing RGB888");
    check(LxSetOutputWindow(card.handle(), 0, 0, kWidth, kHeight), "setting the window");
    check(LxSnapShot(card.handle(), 0, 0, 1, 1), "snapping");

    const uint32_t frameBytes = kWidth * kHeight * static_cast<uint32_t>(LxBytesPerPixel(LX_VIDEO_FORMAT_RGB888));
    StaticWindow frame(0, frameBytes);
    uint64_t sums[3] = {0, 0, 0};  // the card stores B, G, R
    for (uint32_t i = 0; i < frameBytes; ++i) sums[i % 3] += frame.bytes()[i];
    const uint64_t pixels = uint64_t{kWidth} * kHeight;
    std::printf("card 1: %dx%d rgb888, mean red %.1f green %.1f blue %.1f\n", kWidth, kHeight,
                static_cast<double>(sums[2]) / pixels, static_cast<double>(sums[1]) / pixels,
                static_cast<double>(sums[0]) / pixels);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "frame_summary: %s\n", error.what());
    return 1;
  }
}
