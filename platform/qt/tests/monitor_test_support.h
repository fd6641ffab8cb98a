// What the monitored-capture machine tests share: the output window they
// use, the card's mask as they read it, and the screen's video memory.
#pragma once

#include <windows.h>

#include <QWidget>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "lx/internal/card_record.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
// After the card handle type it uses.
#include "card_record_copy.h"
#include "lxqt/bridge.h"
#include "video_memory.h"

namespace lxqt::testing {

using terncard::testing::recordOf;
using terncard::testing::VideoMemory;

constexpr int kX0 = 100, kY0 = 80, kWidth = 640, kHeight = 480;
constexpr uint8_t kScreen = 0x11;

inline std::unique_ptr<QWidget> shownWindow(int x, int y, int width, int height) {
  auto window = std::make_unique<QWidget>();
  window->setGeometry(x, y, width, height);
  window->show();
  lxqt::pumpMessages(20);
  return window;
}

inline std::vector<uint8_t> maskOf(LxCardHandle card) {
  const LxCardRecord record = recordOf(card);
  if (record.maskBuffer == nullptr) return {};
  return std::vector<uint8_t>(record.maskBuffer, record.maskBuffer + LX_MASK_BYTES);
}

// Whether output pixel (x, y) shows video in a frame-mode mask of bit order 0.
inline bool shows(const std::vector<uint8_t>& mask, int x, int y) {
  const size_t line = (y % 2) * LX_MASK_FIELD_BYTES + (y / 2) * LX_MASK_LINE_BYTES;
  return (mask[line + x / 8] >> (x % 8)) & 1;
}

// Pumps messages until `done` holds, for at most two seconds.
inline bool pumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    lxqt::pumpMessages(10);
  }
  return done();
}

// The mask expected when the output window shows video wherever `visible`.
inline bool maskIs(LxCardHandle card, const std::function<bool(int, int)>& visible) {
  const std::vector<uint8_t> mask = maskOf(card);
  if (mask.empty()) return false;
  for (int y = 0; y < 576; ++y) {
    for (int x = 0; x < 768; ++x) {
      const bool expected = x < kWidth && y < kHeight && visible(kX0 + x, kY0 + y);
      if (shows(mask, x, y) != expected) return false;
    }
  }
  return true;
}

inline bool inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

inline void paintScreen(const VideoMemory& vram) {
  for (uint32_t y = 0; y < 768; ++y) std::memset(vram.at(0, y), kScreen, 1024 * 4);
}

inline bool untouched(const VideoMemory& vram, int x, int y) {
  const uint8_t* pixel = vram.at(x, y);
  return pixel[0] == kScreen && pixel[1] == kScreen && pixel[2] == kScreen && pixel[3] == kScreen;
}

}  // namespace lxqt::testing
