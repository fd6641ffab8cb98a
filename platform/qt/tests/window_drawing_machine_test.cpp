// Drawing on window device contexts and the screen's: the bytes that land in
// the machine's video memory, in every display format, clipped to the
// window's visible client area and to the screen. A private machine with a
// 1024 x 768 x 32 screen; some cases switch the mode and restore it.
#include <gtest/gtest.h>
#include <windows.h>

#include <QWidget>

#include <cstring>
#include <memory>
#include <vector>

#include "lxqt/bridge.h"
#include "machine_first.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::VideoMemory;

constexpr uint8_t kBlank = 0x5A;

// A DIB in one block: header, colour table (or masks), then the pixels.
struct Dib {
  std::vector<uint8_t> block;
  std::vector<uint8_t> bits;
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(block.data()); }

  Dib(int width, int height, int bitCount, int tableEntries = 0, DWORD compression = BI_RGB) {
    block.assign(sizeof(BITMAPINFOHEADER) + 4 * static_cast<size_t>(tableEntries), 0);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitCount);
    header.biCompression = compression;
    header.biClrUsed = compression == BI_RGB ? static_cast<DWORD>(tableEntries) : 0;
    std::memcpy(block.data(), &header, sizeof header);
    bits.assign(stride() * static_cast<size_t>(height < 0 ? -height : height), 0);
  }
  size_t stride() const {
    const auto& h = info()->bmiHeader;
    return ((static_cast<size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  }
  void setTableEntry(int i, uint32_t value) { std::memcpy(block.data() + sizeof(BITMAPINFOHEADER) + 4 * i, &value, 4); }
  // Row r of memory (scan r).
  uint8_t* scan(int r) { return bits.data() + stride() * static_cast<size_t>(r); }
};

void blankScreen(const VideoMemory& vram, uint32_t lineBytes, uint32_t lines) {
  for (uint32_t y = 0; y < lines; ++y) std::memset(vram.line(y), kBlank, lineBytes);
}

// The four bytes of a 32-bit screen pixel as 0x00RRGGBB (X byte ignored).
uint32_t rgbAt(const VideoMemory& vram, int x, int y) {
  const uint8_t* p = vram.at(x, y);
  return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

constexpr uint32_t kBlankRgb = 0x5A5A5A;

std::unique_ptr<QWidget> shownWindow(int x, int y, int width, int height) {
  auto window = std::make_unique<QWidget>();
  window->setGeometry(x, y, width, height);
  window->show();
  lxqt::pumpMessages(20);
  return window;
}

class WindowDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vram_);
    blankScreen(vram_, 1024 * 4, 768);
    window_ = shownWindow(200, 100, 64, 32);
    handle_ = lxqt::hwndOf(window_.get());
    ASSERT_TRUE(ClientToScreen(handle_, &origin_));
    dc_ = GetDC(handle_);
    ASSERT_NE(dc_, nullptr);
  }
  void TearDown() override {
    if (dc_ != nullptr) {
      EXPECT_EQ(ReleaseDC(handle_, dc_), 1);
    }
  }

  VideoMemory vram_;
  std::unique_ptr<QWidget> window_;
  HWND handle_ = nullptr;
  POINT origin_{0, 0};
  HDC dc_ = nullptr;
};

TEST_F(WindowDrawing, TwentyFourBitBottomUpLandsOneToOneAndStopsAtTheClientArea) {
  // 80 x 40 is larger than the 64 x 32 client area: the rest is not drawn.
  Dib dib(80, 40, 24);
  for (int r = 0; r < 40; ++r) {
    for (int x = 0; x < 80; ++x) {
      uint8_t* p = dib.scan(r) + 3 * x;
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(r), p[2] = 0xC3;  // B, G, R
    }
  }
  EXPECT_EQ(StretchDIBits(dc_, 0, 0, 80, 40, 0, 0, 80, 40, dib.bits.data(), dib.info(), DIB_RGB_COLORS, SRCCOPY), 40);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      // Bottom-up: client row y shows scan 39 - y.
      ASSERT_EQ(rgbAt(vram_, origin_.x + x, origin_.y + y), 0xC30000u | (uint32_t(39 - y) << 8) | uint32_t(x))
          << x << "," << y;
    }
  }
  for (int y = -1; y <= 32; ++y) {
    EXPECT_EQ(rgbAt(vram_, origin_.x + 64, origin_.y + y + 0), kBlankRgb) << "right of the client area, row " << y;
  }
  for (int x = 0; x < 80; ++x) EXPECT_EQ(rgbAt(vram_, origin_.x + x, origin_.y + 32), kBlankRgb) << "below, " << x;
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y - 1), kBlankRgb);
}

TEST_F(WindowDrawing, EightBitUsesItsColourTableOrTheSelectedPalette) {
  Dib dib(4, -2, 8, 256);  // top-down
  for (int i = 0; i < 256; ++i) dib.setTableEntry(i, (uint32_t(i) << 16) | (uint32_t(255 - i) << 8) | uint32_t(i / 2));
  const uint8_t indices[2][4] = {{0, 1, 2, 255}, {128, 64, 32, 16}};
  for (int r = 0; r < 2; ++r) std::memcpy(dib.scan(r), indices[r], 4);
  ASSERT_EQ(SetDIBitsToDevice(dc_, 10, 5, 4, 2, 0, 0, 0, 2, dib.bits.data(), dib.info(), DIB_RGB_COLORS), 2);
  for (int r = 0; r < 2; ++r) {
    for (int x = 0; x < 4; ++x) {
      const uint32_t i = indices[r][x];
      EXPECT_EQ(rgbAt(vram_, origin_.x + 10 + x, origin_.y + 5 + r), (i << 16) | ((255 - i) << 8) | (i / 2));
    }
  }

  // DIB_PAL_COLORS: the table holds indices into the selected palette.
  std::vector<uint8_t> logical(sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY));
  auto* palette = reinterpret_cast<LOGPALETTE*>(logical.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = 4;
  const PALETTEENTRY entries[4] = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {200, 210, 220, 0}};
  std::memcpy(palette->palPalEntry, entries, sizeof entries);
  HPALETTE handle = CreatePalette(palette);
  ASSERT_NE(handle, nullptr);
  HPALETTE previous = SelectPalette(dc_, handle, FALSE);
  EXPECT_EQ(previous, GetStockObject(DEFAULT_PALETTE));
  EXPECT_EQ(RealizePalette(dc_), 4u);
  Dib paletted(2, 1, 8, 0);
  paletted.block.resize(sizeof(BITMAPINFOHEADER) + 2 * 256);
  const WORD table[3] = {3, 0, 1};  // DIB index 0 -> palette 3, 1 -> 0, 2 -> 1
  std::memcpy(paletted.block.data() + sizeof(BITMAPINFOHEADER), table, sizeof table);
  paletted.scan(0)[0] = 0, paletted.scan(0)[1] = 2;
  ASSERT_EQ(StretchDIBits(dc_, 0, 20, 2, 1, 0, 0, 2, 1, paletted.bits.data(), paletted.info(), DIB_PAL_COLORS, SRCCOPY),
            1);
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y + 20), 0xC8D2DCu);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 1, origin_.y + 20), 0x28323Cu);

  EXPECT_FALSE(DeleteObject(handle)) << "selected into a device context";
  EXPECT_EQ(SelectPalette(dc_, previous, FALSE), handle);
  EXPECT_TRUE(DeleteObject(handle));
  SetLastError(0);
  EXPECT_EQ(SelectPalette(dc_, handle, FALSE), nullptr) << "deleted";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(WindowDrawing, SixteenAndThirtyTwoBitSourcesAndStretching) {
  Dib rgb555(2, 1, 16);
  const uint16_t words[2] = {0x7C00 | 0x0010 << 5 | 0x0001, 0x001F};  // red 31, green 16, blue 1; blue 31
  std::memcpy(rgb555.scan(0), words, sizeof words);
  ASSERT_EQ(SetDIBitsToDevice(dc_, 0, 0, 2, 1, 0, 0, 0, 1, rgb555.bits.data(), rgb555.info(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y), 0xFF8408u);  // 5 bits widened: 31 -> 255, 16 -> 132, 1 -> 8
  EXPECT_EQ(rgbAt(vram_, origin_.x + 1, origin_.y), 0x0000FFu);

  // A 2 x 2 32-bit DIB stretched to 4 x 4: each pixel becomes a 2 x 2 block.
  Dib quad(2, 2, 32);
  const uint32_t pixels[2][2] = {{0x00112233, 0x00445566}, {0x00778899, 0x00AABBCC}};  // scans: bottom row first
  for (int r = 0; r < 2; ++r) std::memcpy(quad.scan(r), pixels[r], 8);
  ASSERT_EQ(StretchDIBits(dc_, 8, 8, 4, 4, 0, 0, 2, 2, quad.bits.data(), quad.info(), DIB_RGB_COLORS, SRCCOPY), 2);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(rgbAt(vram_, origin_.x + 8 + x, origin_.y + 8 + y), pixels[1 - y / 2][x / 2]) << x << "," << y;
    }
  }
  // Mirrored by a negative destination width.
  ASSERT_EQ(StretchDIBits(dc_, 21, 0, -2, 1, 0, 1, 2, 1, quad.bits.data(), quad.info(), DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 19, origin_.y), 0xAABBCCu);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 20, origin_.y), 0x778899u);
  EXPECT_EQ(SetStretchBltMode(dc_, HALFTONE), BLACKONWHITE);
  EXPECT_EQ(SetStretchBltMode(dc_, COLORONCOLOR), HALFTONE);
  EXPECT_EQ(SetStretchBltMode(dc_, 9), 0);
}

TEST_F(WindowDrawing, SetDIBitsToDeviceDrawsOnlyTheScansItIsGiven) {
  // A 3-wide, 6-high bottom-up DIB of which only scans 2 and 3 are passed.
  Dib band(3, 6, 24);
  band.bits.resize(band.stride() * 2);
  for (int r = 0; r < 2; ++r) {
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = band.scan(r) + 3 * x;
      p[0] = static_cast<uint8_t>(0x10 * (r + 2) + x), p[1] = 0, p[2] = 0;
    }
  }
  ASSERT_EQ(SetDIBitsToDevice(dc_, 0, 0, 3, 6, 0, 0, 2, 2, band.bits.data(), band.info(), DIB_RGB_COLORS), 2);
  for (int y = 0; y < 6; ++y) {
    const int scanNumber = 5 - y;
    for (int x = 0; x < 3; ++x) {
      const uint32_t expected = scanNumber == 2 || scanNumber == 3 ? uint32_t(0x10 * scanNumber + x) : kBlankRgb;
      EXPECT_EQ(rgbAt(vram_, origin_.x + x, origin_.y + y), expected) << x << "," << y;
    }
  }

  // A rectangle far larger than the DIB, from a source origin left of it:
  // just the DIB's pixels land, shifted by the columns that lie outside.
  ASSERT_EQ(SetDIBitsToDevice(dc_, 10, 0, 0x7FFFFFFF, 6, -2, 0, 2, 2, band.bits.data(), band.info(), DIB_RGB_COLORS),
            2);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 11, origin_.y + 2), kBlankRgb);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 12, origin_.y + 2), 0x30u);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 14, origin_.y + 3), 0x22u);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 15, origin_.y + 3), kBlankRgb);
}

TEST_F(WindowDrawing, FillRectWithBrushesAndACoveringWindow) {
  HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
  ASSERT_NE(brush, nullptr);
  RECT rect{-5, -5, 10, 3};
  ASSERT_NE(FillRect(dc_, &rect, brush), 0);
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y), 0x123456u);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 9, origin_.y + 2), 0x123456u);
  EXPECT_EQ(rgbAt(vram_, origin_.x + 10, origin_.y), kBlankRgb);
  EXPECT_EQ(rgbAt(vram_, origin_.x - 1, origin_.y), kBlankRgb) << "left of the client area";
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y - 1), kBlankRgb) << "above the client area";
  RECT nothing{0, 10, 64, 11};
  EXPECT_NE(FillRect(dc_, &nothing, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 0);
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y + 10), kBlankRgb);
  RECT grey{0, 10, 1, 11};
  EXPECT_NE(FillRect(dc_, &grey, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))), 0);
  EXPECT_EQ(rgbAt(vram_, origin_.x, origin_.y + 10), 0x808080u);

  // Another top-level window over the right half: the covered part stays.
  auto cover = shownWindow(origin_.x + 32, origin_.y - 40, 100, 200);
  RECT all{0, 0, 64, 32};
  HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  ASSERT_NE(FillRect(dc_, &all, white), 0);
  RECT covered{};
  ASSERT_TRUE(GetWindowRect(lxqt::hwndOf(cover.get()), &covered));
  for (int x = 0; x < 64; ++x) {
    const bool under = origin_.x + x >= covered.left;
    EXPECT_EQ(rgbAt(vram_, origin_.x + x, origin_.y + 16), under ? kBlankRgb : 0xFFFFFFu) << x;
  }

  EXPECT_TRUE(DeleteObject(brush));
  SetLastError(0);
  EXPECT_EQ(FillRect(dc_, &all, brush), 0) << "a deleted brush";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(DeleteObject(white)) << "stock objects stay";
  EXPECT_NE(FillRect(dc_, &grey, white), 0);
}

TEST(ScreenDrawing, ScreenEdgeAndBadHandles) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  blankScreen(vram, 1024 * 4, 768);
  // A window hanging over the right edge of the screen: what is on the
  // screen is drawn, nothing beyond.
  auto window = shownWindow(1000, 700, 64, 32);
  const HWND handle = lxqt::hwndOf(window.get());
  POINT origin{0, 0};
  ASSERT_TRUE(ClientToScreen(handle, &origin));
  HDC dc = GetDC(handle);
  RECT all{0, 0, 64, 32};
  HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  ASSERT_NE(FillRect(dc, &all, black), 0);
  EXPECT_EQ(rgbAt(vram, 1023, origin.y), 0u);
  EXPECT_EQ(rgbAt(vram, origin.x - 1, origin.y), kBlankRgb);
  ReleaseDC(handle, dc);

  HDC screen = GetDC(nullptr);
  RECT corner{1020, 765, 1100, 800};
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_NE(FillRect(screen, &corner, brush), 0);
  EXPECT_EQ(rgbAt(vram, 1023, 767), 0x010203u);
  EXPECT_EQ(rgbAt(vram, 1019, 767), kBlankRgb);
  DeleteObject(brush);

  // Bad handles and arguments.
  Dib dib(1, 1, 24);
  HDC bogus = reinterpret_cast<HDC>(static_cast<uintptr_t>(0x5D7FFFF0));
  SetLastError(0);
  EXPECT_EQ(StretchDIBits(bogus, 0, 0, 1, 1, 0, 0, 1, 1, dib.bits.data(), dib.info(), DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(FillRect(bogus, &all, black), 0);
  EXPECT_EQ(SelectPalette(bogus, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE), nullptr);
  EXPECT_EQ(RealizePalette(bogus), GDI_ERROR);
  EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 1, 1, 0, 0, 0, 1, nullptr, dib.info(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(StretchDIBits(screen, 0, 0, 1, 1, 0, 0, 1, 1, dib.bits.data(), dib.info(), DIB_RGB_COLORS, 0x00EE0086), 0)
      << "only SRCCOPY";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  Dib rle(1, 1, 8, 256, 1 /* BI_RLE8 */);
  EXPECT_EQ(StretchDIBits(screen, 0, 0, 1, 1, 0, 0, 1, 1, rle.bits.data(), rle.info(), DIB_RGB_COLORS, SRCCOPY), 0);
  LOGPALETTE empty{0x300, 0, {}};
  EXPECT_EQ(CreatePalette(&empty), nullptr);
  EXPECT_EQ(rgbAt(vram, 0, 0), kBlankRgb) << "nothing drawn by a refused call";

  // A window that is gone: its context draws nothing and says so.
  dc = GetDC(handle);
  window.reset();
  SetLastError(0);
  EXPECT_EQ(FillRect(dc, &all, black), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  ReleaseDC(handle, dc);
}

TEST(ScreenDrawing, BitBltOntoAWindowFromAMemoryContextAndFromTheScreen) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  blankScreen(vram, 1024 * 4, 768);
  for (int x = 0; x < 8; ++x) {
    const uint32_t pixel = 0x00100000u * x + 7;
    std::memcpy(vram.at(x, 0), &pixel, 4);
  }
  auto window = shownWindow(300, 300, 40, 20);
  const HWND handle = lxqt::hwndOf(window.get());
  POINT origin{0, 0};
  ASSERT_TRUE(ClientToScreen(handle, &origin));
  HDC dc = GetDC(handle);
  HDC screen = GetDC(nullptr);

  ASSERT_TRUE(BitBlt(dc, 2, 3, 8, 1, screen, 0, 0, SRCCOPY));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(rgbAt(vram, origin.x + 2 + x, origin.y + 3), 0x00100000u * x + 7);

  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  HGDIOBJ stock = SelectObject(memory, bitmap);
  RECT inBitmap{0, 0, 4, 4};
  HBRUSH brush = CreateSolidBrush(RGB(0xAB, 0xCD, 0xEF));
  ASSERT_NE(FillRect(memory, &inBitmap, brush), 0) << "memory contexts draw on their bitmap";
  ASSERT_TRUE(BitBlt(dc, 38, 0, 4, 4, memory, 0, 0, SRCCOPY));
  EXPECT_EQ(rgbAt(vram, origin.x + 38, origin.y), 0xABCDEFu);
  EXPECT_EQ(rgbAt(vram, origin.x + 39, origin.y + 3), 0xABCDEFu);
  EXPECT_EQ(rgbAt(vram, origin.x + 40, origin.y), kBlankRgb) << "past the client area";
  EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 4, memory, 0, 0, 0x00EE0086));

  SelectObject(memory, stock);
  DeleteObject(bitmap);
  DeleteDC(memory);
  DeleteObject(brush);
  ReleaseDC(handle, dc);
}

// Bytes written in each display format for a pure colour and a grey.
TEST(ScreenDrawing, PixelsAreWrittenInTheDisplayModesFormat) {
  terncard::testing::MachineControl machine;
  struct Case {
    const char* mode;
    uint32_t bytes;
    uint32_t orange;  // RGB(255, 128, 0)
    uint32_t grey;    // RGB(96, 96, 96)
  };
  const Case cases[] = {
      {"1024x768x16", 2, 0xFC00, 0x630C},   // 5-6-5
      {"1024x768x15", 2, 0x7E00, 0x318C},   // 5-5-5
      {"1024x768x24", 3, 0xFF8000, 0x606060},
      {"1024x768x8", 1, 0x98, 0x60},        // the grey ramp: luma of orange is 152
      {"1024x768x32", 4, 0xFF8000, 0x606060},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(machine.setDisplay(c.mode));
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    VideoMemory vram;
    ASSERT_TRUE(vram);
    std::memset(vram.line(10), kBlank, vram.pitch());
    Dib dib(2, 1, 24);
    const uint8_t row[6] = {0x00, 0x80, 0xFF, 0x60, 0x60, 0x60};
    std::memcpy(dib.scan(0), row, sizeof row);
    ASSERT_EQ(StretchDIBits(screen, 100, 10, 2, 1, 0, 0, 2, 1, dib.bits.data(), dib.info(), DIB_RGB_COLORS, SRCCOPY), 1);
    uint32_t orange = 0, grey = 0;
    std::memcpy(&orange, vram.line(10) + 100 * c.bytes, c.bytes);
    std::memcpy(&grey, vram.line(10) + 101 * c.bytes, c.bytes);
    EXPECT_EQ(orange, c.orange);
    EXPECT_EQ(grey, c.grey);
    EXPECT_EQ(vram.line(10)[102 * c.bytes], kBlank);
    EXPECT_EQ(vram.line(10)[100 * c.bytes - 1], kBlank);
    // GetPixel reads it back where the format keeps all eight bits.
    if (c.bytes != 2) {
      EXPECT_EQ(GetPixel(screen, 101, 10), RGB(0x60, 0x60, 0x60));
    }
  }
}

}  // namespace
