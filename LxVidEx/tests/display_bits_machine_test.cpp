// LxGetDisplayBits and the memory device contexts under it, against the
// video memory of a private machine's screen in 32, 16, 15 and 8-bit modes.
#include <gtest/gtest.h>
#include <windows.h>
#include <ddraw.h>

#include <cstring>
#include <functional>
#include <vector>

#include "lx/data_transform.h"
#include "machine_first.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using Bytes = std::vector<uint8_t>;
using terncard::testing::VideoMemory;
constexpr uint8_t kGuard = 0xA5;

// Byte i of the screen pixel at (x, y) as the tests write it.
uint8_t screenByte(uint32_t x, uint32_t y, uint32_t i) { return static_cast<uint8_t>(x * 29 + y * 7 + i * 83 + 1); }

// Fills the top-left 64 x 32 pixels of the screen (bytesPerPixel each).
void paint(uint32_t bytesPerPixel) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 0; x < 64; ++x) {
      for (uint32_t i = 0; i < bytesPerPixel; ++i) {
        vram.line(y)[bytesPerPixel * x + i] = screenByte(x, y, i);
      }
    }
  }
}

// Reads the w x h rectangle at (x0, y0) and checks every output pixel against
// `expected` (pixel bytes of a screen position), bottom-up at the stride of
// `outBits`, and that nothing past the image is written.
void checkReadBack(int32_t outBits, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h,
                   const std::function<Bytes(uint32_t, uint32_t)>& expected) {
  const uint32_t n = outBits / 8, stride = ((w * outBits + 31) / 32) * 4;
  Bytes out(stride * h + 8, kGuard);
  int32_t bits = 0;
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  ASSERT_EQ(LxGetDisplayBits(screen, x0, y0, w, h, &bits, out.data()), LX_OK);
  EXPECT_EQ(bits, outBits);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* at = out.data() + (h - 1 - y) * stride + n * x;
      ASSERT_EQ(Bytes(at, at + n), expected(x0 + x, y0 + y)) << x << "," << y;
    }
  }
  for (size_t i = stride * h; i < out.size(); ++i) {
    ASSERT_EQ(out[i], kGuard) << "past the image";
  }
  ReleaseDC(nullptr, screen);
}

class DisplayBits : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(machine_.setDisplay("1024x768x32")); }
  terncard::testing::MachineControl machine_;
};

TEST_F(DisplayBits, ThirtyTwoBitScreenGivesTwentyFourBitRows) {
  ASSERT_NO_FATAL_FAILURE(paint(4));
  checkReadBack(24, 3, 5, 7, 4, [](uint32_t x, uint32_t y) {
    return Bytes{screenByte(x, y, 0), screenByte(x, y, 1), screenByte(x, y, 2)};
  });
}

TEST_F(DisplayBits, EightBitScreenGivesItsBytes) {
  ASSERT_TRUE(machine_.setDisplay("1024x768x8"));
  ASSERT_NO_FATAL_FAILURE(paint(1));
  checkReadBack(8, 2, 1, 5, 3, [](uint32_t x, uint32_t y) { return Bytes{screenByte(x, y, 0)}; });
}

TEST_F(DisplayBits, SixteenBitScreenIsConvertedFrom565) {
  ASSERT_TRUE(machine_.setDisplay("1024x768x16"));
  ASSERT_NO_FATAL_FAILURE(paint(2));
  checkReadBack(24, 10, 20, 5, 6, [](uint32_t x, uint32_t y) {
    const uint8_t lo = screenByte(x, y, 0), hi = screenByte(x, y, 1);
    return Bytes{static_cast<uint8_t>(lo << 3), static_cast<uint8_t>(((lo >> 3) & 0x1C) | (hi << 5)),
                 static_cast<uint8_t>(hi & 0xF8)};
  });
}

// 5-5-5 pixels read back as the 15-bit conversion gives them.
TEST_F(DisplayBits, FifteenBitScreenKeepsItsColours) {
  ASSERT_TRUE(machine_.setDisplay("1024x768x15"));
  ASSERT_NO_FATAL_FAILURE(paint(2));
  checkReadBack(24, 0, 0, 6, 3, [](uint32_t x, uint32_t y) {
    const uint8_t lo = screenByte(x, y, 0), hi = screenByte(x, y, 1);
    return Bytes{static_cast<uint8_t>(lo << 3), static_cast<uint8_t>(((lo >> 2) & 0x38) | (hi << 6)),
                 static_cast<uint8_t>((hi & 0xFC) * 2)};
  });
}

// Pixels of the rectangle outside the screen read as black.
TEST_F(DisplayBits, OffScreenPixelsAreBlack) {
  ASSERT_NO_FATAL_FAILURE(paint(4));
  checkReadBack(24, 0, 0, 1, 1, [](uint32_t x, uint32_t y) {
    return Bytes{screenByte(x, y, 0), screenByte(x, y, 1), screenByte(x, y, 2)};
  });
  Bytes out(2 * 12, kGuard);
  int32_t bits = 0;
  ASSERT_EQ(LxGetDisplayBits(GetDC(nullptr), 1022, 767, 4, 2, &bits, out.data()), LX_OK);
  // Bottom-up: row 0 is screen line 768 (off screen), row 1 line 767.
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 12), Bytes(12, 0));
  EXPECT_EQ(Bytes(out.begin() + 12 + 6, out.end()), Bytes(6, 0)) << "columns 1024 and 1025";
}

TEST_F(DisplayBits, RefusalsWriteNothing) {
  Bytes out(64, kGuard);
  int32_t bits = -1;
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(LxGetDisplayBits(screen, 0, 0, 2, 2, nullptr, out.data()), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxGetDisplayBits(screen, 0, 0, 2, 2, &bits, nullptr), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxGetDisplayBits(screen, 0, 0, 0, 2, &bits, out.data()), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxGetDisplayBits(screen, 0, 0, 2, -2, &bits, out.data()), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxGetDisplayBits(screen, 0, 0, 100000, 100000, &bits, out.data()), LX_NOT_ENOUGH_SYSTEM_MEMORY);
  EXPECT_EQ(LxGetDisplayBits(reinterpret_cast<HDC>(0x1234), 0, 0, 2, 2, &bits, out.data()),
            LX_NOT_ENOUGH_SYSTEM_MEMORY);
  EXPECT_EQ(bits, -1);
  EXPECT_EQ(out, Bytes(64, kGuard));
}

// The compat layer's memory DCs on their own.
TEST(MemoryDc, HandlesFollowSelectionAndDeletion) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  SetLastError(0);
  EXPECT_EQ(CreateCompatibleDC(reinterpret_cast<HDC>(0x1234)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(CreateCompatibleBitmap(screen, 0, 4), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(screen, 4, -1), nullptr);

  HDC first = CreateCompatibleDC(screen);
  HDC second = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(CreateCompatibleBitmap(first, 4, 4), nullptr) << "a memory DC with only its stock bitmap";
  EXPECT_FALSE(BitBlt(first, 0, 0, 4, 4, screen, 0, 0, SRCCOPY)) << "nothing to draw on";

  const HGDIOBJ stock = SelectObject(first, bitmap);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(SelectObject(second, bitmap), nullptr) << "already in another DC";
  EXPECT_FALSE(BitBlt(first, 0, 0, 4, 4, screen, 0, 0, 0x00EE0086u)) << "only SRCCOPY";
  EXPECT_TRUE(BitBlt(first, 0, 0, 4, 4, screen, 0, 0, SRCCOPY));
  SetLastError(0);
  EXPECT_FALSE(DeleteObject(bitmap)) << "while selected";
  EXPECT_EQ(SelectObject(first, stock), static_cast<HGDIOBJ>(bitmap));
  EXPECT_NE(SelectObject(second, bitmap), nullptr);
  EXPECT_TRUE(DeleteDC(second)) << "the bitmap survives, unselected";
  EXPECT_FALSE(DeleteDC(second));
  EXPECT_FALSE(DeleteDC(screen)) << "the screen DC is released, not deleted";
  EXPECT_FALSE(DeleteObject(first)) << "a DC is not a bitmap";
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SelectObject(first, bitmap), nullptr);
  EXPECT_TRUE(DeleteDC(first));
}

struct Info256 {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

// Format query, rows in either direction, partial rows, and the format check.
TEST(MemoryDc, GetDIBitsDescribesAndCopiesRows) {
  ASSERT_NO_FATAL_FAILURE(paint(4));
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 3, 4);
  const HGDIOBJ stock = SelectObject(memory, bitmap);
  ASSERT_TRUE(BitBlt(memory, 1, 0, 3, 4, screen, 0, 0, SRCCOPY)) << "clipped to the bitmap";
  SelectObject(memory, stock);

  Info256 info{};
  std::memset(info.colours, 0x5A, sizeof info.colours);
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  auto* asInfo = reinterpret_cast<BITMAPINFO*>(&info);
  ASSERT_NE(GetDIBits(memory, bitmap, 0, 4, nullptr, asInfo, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.header.biWidth, 3);
  EXPECT_EQ(info.header.biHeight, 4);
  EXPECT_EQ(info.header.biPlanes, 1);
  EXPECT_EQ(info.header.biBitCount, 32);
  EXPECT_EQ(info.header.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(info.header.biSizeImage, 48u);
  EXPECT_EQ(info.colours[0].rgbBlue, 0x5A) << "no colour table for a 32-bit bitmap";

  // Screen pixel (x, y) sits at bitmap column x + 1; column 0 stays black.
  auto pixel = [](uint32_t column, uint32_t line) {
    if (column == 0) return Bytes{0, 0, 0, 0};
    const uint32_t x = column - 1;
    return Bytes{screenByte(x, line, 0), screenByte(x, line, 1), screenByte(x, line, 2), screenByte(x, line, 3)};
  };
  Bytes rows(48 + 4, kGuard);
  ASSERT_EQ(GetDIBits(memory, bitmap, 1, 2, rows.data(), asInfo, DIB_RGB_COLORS), 2);
  for (uint32_t k = 0; k < 2; ++k) {
    for (uint32_t c = 0; c < 3; ++c) {
      EXPECT_EQ(Bytes(rows.begin() + 12 * k + 4 * c, rows.begin() + 12 * k + 4 * c + 4), pixel(c, 2 - k))
          << "bottom-up row " << k + 1;
    }
  }
  EXPECT_EQ(rows[24], kGuard);
  info.header.biHeight = -4;
  ASSERT_EQ(GetDIBits(memory, bitmap, 3, 5, rows.data(), asInfo, DIB_RGB_COLORS), 1) << "clipped to the height";
  EXPECT_EQ(Bytes(rows.begin() + 4, rows.begin() + 8), pixel(1, 3)) << "top-down row 3";

  info.header.biBitCount = 24;
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, rows.data(), asInfo, DIB_RGB_COLORS), 0) << "no conversion";
  info.header.biBitCount = 32;
  info.header.biWidth = 4;
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, rows.data(), asInfo, DIB_RGB_COLORS), 0);
  info.header.biWidth = 3;
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, rows.data(), asInfo, 1), 0) << "palette indices are not served";
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, rows.data(), nullptr, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(memory, reinterpret_cast<HBITMAP>(memory), 0, 4, rows.data(), asInfo, DIB_RGB_COLORS), 0);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(memory));
}

TEST(MemoryDc, EightBitBitmapsHaveAGreyColourTable) {
  terncard::testing::MachineControl machine;
  ASSERT_TRUE(machine.setDisplay("1024x768x8"));
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 5, 1);
  HDC memory = CreateCompatibleDC(screen);
  Info256 info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  auto* asInfo = reinterpret_cast<BITMAPINFO*>(&info);
  ASSERT_NE(GetDIBits(memory, bitmap, 0, 1, nullptr, asInfo, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.header.biBitCount, 8);
  EXPECT_EQ(info.header.biSizeImage, 8u);
  Bytes row(8, kGuard);
  ASSERT_EQ(GetDIBits(memory, bitmap, 0, 1, row.data(), asInfo, DIB_RGB_COLORS), 1);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(info.colours[i].rgbBlue, i);
    ASSERT_EQ(info.colours[i].rgbGreen, i);
    ASSERT_EQ(info.colours[i].rgbRed, i);
    ASSERT_EQ(info.colours[i].rgbReserved, 0);
  }
  EXPECT_EQ(row, Bytes(8, 0)) << "a new bitmap is black, padding included";
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(machine.setDisplay("1024x768x32"));
}

}  // namespace
