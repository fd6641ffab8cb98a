// Print to a PDF file through the Print command: the page holds the image the
// frame holds, the right way up, at its own size (within JPEG's rounding when
// the PDF writer chose it).
#include <QPrintDialog>
#include <QPrinter>

#include <fstream>
#include <string>

#include "command_ids.h"
#include "frame_fixture.h"
#include "printed_image_check.h"

namespace lxperf::testing {
namespace {

using PrintTest = FrameTest;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

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
    demo::testing::paintPattern(v.image, kWidth, kHeight, 0, raw);
    return static_cast<int>(QDialog::Accepted);
  });
  menu(kFilePrint);
  ASSERT_TRUE(asked);
  ASSERT_TRUE(std::filesystem::exists(pdf));
  std::ifstream file(pdf, std::ios::binary);
  char magic[5] = {};
  file.read(magic, 4);
  EXPECT_STREQ(magic, "%PDF");
  EXPECT_EQ(python(demo::testing::printedImagesScript(pdf, {raw}, kWidth, kHeight)), "160 120 close\n");
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
