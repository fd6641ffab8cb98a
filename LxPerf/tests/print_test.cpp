// Print to a PDF file through the Print command: the page holds the image the
// frame holds, the right way up, at its own size (within JPEG's rounding when
// the PDF writer chose it).
#include <QPrintDialog>
#include <QPrinter>

#include <fstream>

#include "command_ids.h"
#include "frame_fixture.h"

namespace lxperf::testing {
namespace {

using PrintTest = FrameTest;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Blocks of 16 x 16 of one colour each: inside them JPEG stays within a few steps.
void blockColour(int x, int y, uint8_t rgb[3]) {
  const int bx = x / 16, by = y / 16;
  rgb[0] = static_cast<uint8_t>(bx * 25);
  rgb[1] = static_cast<uint8_t>(by * 31);
  rgb[2] = static_cast<uint8_t>(((bx + by) % 2) ? 230 : 20);
}

// A bottom-up 24-bit picture in the frame's image; the same top-down RGB in `raw`.
void paintPattern(demo::DisplayImage& image, const std::string& raw) {
  BITMAPINFOHEADER& info = image.header.info;
  info.biWidth = kWidth;
  info.biHeight = kHeight;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(demo::pixelBytesOf(info));
  const int stride = (kWidth * 3 + 3) & ~3;
  std::ofstream out(raw, std::ios::binary);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t rgb[3];
      blockColour(x, y, rgb);
      uint8_t* p = &image.pixels[static_cast<size_t>(kHeight - 1 - y) * stride + x * 3];
      p[0] = rgb[2];
      p[1] = rgb[1];
      p[2] = rgb[0];
      out.write(reinterpret_cast<const char*>(rgb), 3);
    }
}

// Finds the page's image, decodes it and compares it with the raw RGB.
const char* kCompareScript = R"(import re, sys, zlib, io
pdf = open(PDF, 'rb').read()
want = open(RAW, 'rb').read()
found = []
for m in re.finditer(rb'<<((?:(?!>>\s*stream).)*?)>>\s*stream\r?\n', pdf, re.S):
    d = m.group(1)
    if b'/Subtype /Image' not in d:
        continue
    end = pdf.index(b'endstream', m.end())
    data = pdf[m.end():end]
    w = int(re.search(rb'/Width (\d+)', d).group(1))
    h = int(re.search(rb'/Height (\d+)', d).group(1))
    if b'/DCTDecode' in d:
        from PIL import Image
        pix = Image.open(io.BytesIO(data)).convert('RGB').tobytes()
    else:
        pix = zlib.decompressobj().decompress(data)
        if b'/DeviceGray' in d:
            pix = bytes(b for g in pix for b in (g, g, g))
    found.append((w, h, pix))
if not found:
    print('no image'); sys.exit(1)
w, h, pix = max(found, key=lambda f: f[0] * f[1])
# JPEG smears colour across the blocks' edges: compare their insides.
inside = [i for i in range(len(want)) if 3 <= (i // 3) % w % 16 <= 12 and 3 <= (i // 3) // w % 16 <= 12]
diff = max(abs(pix[i] - want[i]) for i in inside) if len(pix) >= len(want) else 999
print(w, h, 'close' if diff <= 12 else 'differs by %d' % diff)
)";

TEST_F(PrintTest, PrintWritesTheHeldImageToThePage) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  ASSERT_TRUE(v.image.pixels);
  const std::string pdf = (dir_ / "page.pdf").string();
  const std::string raw = (dir_ / "expected.rgb").string();
  bool asked = false;
  onNextDialog([&](QDialog& dialog) {
    auto* print = dynamic_cast<QPrintDialog*>(&dialog);
    EXPECT_NE(print, nullptr) << "Print opens the print dialog";
    if (!print) return static_cast<int>(QDialog::Rejected);
    asked = true;
    print->printer()->setOutputFormat(QPrinter::PdfFormat);
    print->printer()->setOutputFileName(QString::fromStdString(pdf));
    // No message pump between here and the printout: the capture cannot repaint it.
    paintPattern(v.image, raw);
    return static_cast<int>(QDialog::Accepted);
  });
  menu(kFilePrint);
  ASSERT_TRUE(asked);
  ASSERT_TRUE(std::filesystem::exists(pdf));
  std::ifstream file(pdf, std::ios::binary);
  char magic[5] = {};
  file.read(magic, 4);
  EXPECT_STREQ(magic, "%PDF");
  EXPECT_EQ(python(std::string("PDF = '") + pdf + "'\nRAW = '" + raw + "'\n" + kCompareScript),
            std::to_string(kWidth) + " " + std::to_string(kHeight) + " close\n");
}

TEST_F(PrintTest, CancelledPrintDialogWritesNothing) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  const std::string pdf = (dir_ / "page.pdf").string();
  onNextDialog([&](QDialog& dialog) {
    auto* print = dynamic_cast<QPrintDialog*>(&dialog);
    EXPECT_NE(print, nullptr);
    if (!print) return static_cast<int>(QDialog::Rejected);
    print->printer()->setOutputFormat(QPrinter::PdfFormat);
    print->printer()->setOutputFileName(QString::fromStdString(pdf));
    return static_cast<int>(QDialog::Rejected);
  });
  menu(kFilePrint);
  EXPECT_FALSE(std::filesystem::exists(pdf));
}

}  // namespace
}  // namespace lxperf::testing
