// Painter device contexts draw DIBs and fills with a QPainter: here into a
// QImage whose pixels are checked, and GetDeviceCaps reads the image.
#include <gtest/gtest.h>
#include <windows.h>

#include <QImage>
#include <QPainter>

#include <cstring>
#include <vector>

#include "lxqt/painter_dc.h"

namespace {

// An 8-bit DIB with a 256-entry grey table whose entry i is (i + 10) % 256,
// as a program's grey palette image is.
struct GreyDib {
  std::vector<uint8_t> block = std::vector<uint8_t>(sizeof(BITMAPINFOHEADER) + 256 * 4);
  std::vector<uint8_t> bits;
  GreyDib(int width, int height, const std::vector<uint8_t>& pixels) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 8;
    std::memcpy(block.data(), &header, sizeof header);
    for (int i = 0; i < 256; ++i) {
      const uint8_t v = static_cast<uint8_t>((i + 10) % 256);
      const uint8_t quad[4] = {v, v, v, 0};
      std::memcpy(block.data() + sizeof header + 4 * i, quad, 4);
    }
    bits = pixels;
  }
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(block.data()); }
};

QRgb rgb(int r, int g, int b) { return qRgb(r, g, b); }

TEST(PainterDc, DrawsDibsAndFillsIntoAnImage) {
  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(Qt::black);
  image.setDotsPerMeterX(11811);  // 300 dpi
  image.setDotsPerMeterY(5906);   // 150 dpi
  QPainter painter(&image);
  HDC dc = lxqt::beginPainterDC(&painter);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 40);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 30);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 300);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 150);

  // 2 x 2 bottom-up (stride 4): scan 0 is the bottom row.
  GreyDib dib(2, 2, {1, 2, 0, 0, 3, 250, 0, 0});
  EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), BLACKONWHITE);
  ASSERT_EQ(StretchDIBits(dc, 4, 6, 4, 4, 0, 0, 2, 2, dib.bits.data(), dib.info(), DIB_RGB_COLORS, SRCCOPY), 2);
  ASSERT_EQ(SetDIBitsToDevice(dc, 20, 20, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.info(), DIB_RGB_COLORS), 2);
  RECT band{0, 28, 40, 30};
  HBRUSH brush = CreateSolidBrush(RGB(200, 100, 50));
  ASSERT_NE(FillRect(dc, &band, brush), 0);
  lxqt::endPainterDC(dc);
  painter.end();

  // Top row of the DIB (scan 1: 3, 250 -> greys 13, 4), then bottom (11, 12).
  const int top[2] = {13, 4}, bottom[2] = {11, 12};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const int v = y < 2 ? top[x / 2] : bottom[x / 2];
      EXPECT_EQ(image.pixel(4 + x, 6 + y), rgb(v, v, v)) << x << "," << y;
    }
  }
  EXPECT_EQ(image.pixel(3, 6), rgb(0, 0, 0));
  EXPECT_EQ(image.pixel(8, 6), rgb(0, 0, 0));
  EXPECT_EQ(image.pixel(20, 20), rgb(13, 13, 13));
  EXPECT_EQ(image.pixel(21, 21), rgb(12, 12, 12));
  EXPECT_EQ(image.pixel(22, 20), rgb(0, 0, 0));
  EXPECT_EQ(image.pixel(0, 28), rgb(200, 100, 50));
  EXPECT_EQ(image.pixel(39, 29), rgb(200, 100, 50));
  EXPECT_EQ(image.pixel(39, 27), rgb(0, 0, 0));

  // An ended context names nothing.
  SetLastError(0);
  EXPECT_EQ(FillRect(dc, &band, brush), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 0);
  lxqt::endPainterDC(dc);
  DeleteObject(brush);
}

TEST(PainterDc, StretchesWholeImagesToThePrintersDensity) {
  // As a program prints: the image at (width / 96) inch wide at the device's
  // density, here 192 dpi: every source pixel becomes 2 x 2.
  QImage page(64, 64, QImage::Format_RGB32);
  page.fill(Qt::white);
  page.setDotsPerMeterX(7559);  // 192 dpi
  page.setDotsPerMeterY(7559);
  QPainter painter(&page);
  HDC dc = lxqt::beginPainterDC(&painter);
  ASSERT_NE(dc, nullptr);
  GreyDib dib(3, -1, {100, 150, 200, 0});  // top-down
  const int width = 3 * GetDeviceCaps(dc, LOGPIXELSX) / 96, height = 1 * GetDeviceCaps(dc, LOGPIXELSY) / 96;
  SetStretchBltMode(dc, COLORONCOLOR);
  ASSERT_EQ(StretchDIBits(dc, 0, 0, width, height, 0, 0, 3, 1, dib.bits.data(), dib.info(), DIB_RGB_COLORS, SRCCOPY),
            1);
  lxqt::endPainterDC(dc);
  painter.end();
  for (int x = 0; x < 6; ++x) {
    const int v = 110 + 50 * (x / 2);
    EXPECT_EQ(page.pixel(x, 0), rgb(v, v, v)) << x;
    EXPECT_EQ(page.pixel(x, 1), rgb(v, v, v)) << x;
  }
  EXPECT_EQ(page.pixel(6, 0), rgb(255, 255, 255));
  EXPECT_EQ(page.pixel(0, 2), rgb(255, 255, 255));
  EXPECT_EQ(lxqt::beginPainterDC(&painter), nullptr) << "an ended painter";
  EXPECT_EQ(lxqt::beginPainterDC(nullptr), nullptr);
}

}  // namespace
