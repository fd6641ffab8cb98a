// Window device contexts read the video memory under the window's client
// area, and LxGetDisplayBits reads through them, on a private machine with a
// 1024 x 768 x 32 screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <QWidget>

#include <memory>
#include <vector>

#include "lx/data_transform.h"
#include "lxqt/bridge.h"
#include "machine_first.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::VideoMemory;

uint8_t screenByte(uint32_t x, uint32_t y, uint32_t i) { return static_cast<uint8_t>(x * 29 + y * 7 + i * 83 + 1); }

void paintScreen() {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  for (uint32_t y = 0; y < 768; ++y) {
    for (uint32_t x = 0; x < 1024; ++x) {
      for (uint32_t i = 0; i < 4; ++i) vram.at(x, y)[i] = screenByte(x, y, i);
    }
  }
}

TEST(WindowDc, PixelsAreTheScreensUnderTheClientArea) {
  ASSERT_NO_FATAL_FAILURE(paintScreen());
  auto window = std::make_unique<QWidget>();
  window->setGeometry(200, 100, 64, 32);
  window->show();
  lxqt::pumpMessages(20);
  const HWND handle = lxqt::hwndOf(window.get());
  HDC dc = GetDC(handle);
  ASSERT_NE(dc, nullptr);
  EXPECT_NE(dc, GetDC(nullptr));
  EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 32);

  // 0x00BBGGRR from the screen's B, G, R bytes at (203, 105).
  EXPECT_EQ(GetPixel(dc, 3, 5), RGB(screenByte(203, 105, 2), screenByte(203, 105, 1), screenByte(203, 105, 0)));
  EXPECT_EQ(GetPixel(dc, 64, 0), CLR_INVALID) << "right of the client area";
  EXPECT_EQ(GetPixel(dc, 0, -1), CLR_INVALID);

  // Read-back of 8 x 2 pixels from client (60, 30): the four columns past the
  // client area's edge are not the screen's (the bitmap's black stays).
  std::vector<uint8_t> rows(2 * 24 + 4, 0xA5);
  int32_t bits = 0;
  ASSERT_EQ(LxGetDisplayBits(dc, 60, 30, 8, 2, &bits, rows.data()), LX_OK);
  EXPECT_EQ(bits, 24);
  for (uint32_t y = 0; y < 2; ++y) {
    const uint8_t* row = rows.data() + (1 - y) * 24;  // bottom-up
    for (uint32_t x = 0; x < 8; ++x) {
      for (uint32_t i = 0; i < 3; ++i) {
        const uint8_t expected = x < 4 ? screenByte(260 + x, 130 + y, i) : 0;
        ASSERT_EQ(row[3 * x + i], expected) << x << "," << y << "," << i;
      }
    }
  }

  window->move(300, 150);
  lxqt::pumpMessages(20);
  POINT origin{0, 0};
  ASSERT_TRUE(ClientToScreen(handle, &origin));
  EXPECT_EQ(GetPixel(dc, 0, 0),
            RGB(screenByte(origin.x, origin.y, 2), screenByte(origin.x, origin.y, 1), screenByte(origin.x, origin.y, 0)))
      << "the context follows its window";

  window.reset();
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID) << "the window is gone";
  EXPECT_EQ(ReleaseDC(handle, dc), 1);
  EXPECT_EQ(ReleaseDC(handle, dc), 0);
}

}  // namespace
