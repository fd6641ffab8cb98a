// LxMPerf on a machine with two cards: printing every tile's image to a PDF
// page, the Mask command's demonstration areas in each card's mask, the
// frame kept on the screen through real moves, and the Allocate memory and
// About dialogs.
#include <gtest/gtest.h>
#include <windows.h>

#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>

#include <fstream>
#include <string>
#include <vector>

#include "card_record_copy.h"
#include "democommon/about_dialog.h"
#include "democommon/allocate_dialog.h"
#include "frame_fixture.h"
#include "lx/video_capture.h"
#include "lx/video.h"
#include "machine_first.h"
#include "printed_image_check.h"

const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"stamp:11\", \"none\", \"none\", \"none\"]\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"stamp:12\", \"none\", \"none\", \"none\"]\n";
}

namespace lxmperf::testing {
namespace {

constexpr int kCards = 2;

// Runs `work` on the modal dialog the next command opens.
template <typename Dialog>
void onModal(std::function<void(Dialog&)> work) {
  QTimer::singleShot(0, [work] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no such dialog open";
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      return;
    }
    work(*dialog);
  });
}

std::string runPython(const std::filesystem::path& dir, const std::string& script) {
  const std::string file = (dir / "check.py").string(), out = (dir / "check.out").string();
  std::ofstream(file) << script;
  const int status = std::system((std::string(DEMO_PYTHON) + " " + file + " > " + out + " 2>&1").c_str());
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return (status == 0 ? "" : "FAILED: ") + text;
}

using DemoTest = FrameTest;

TEST_F(DemoTest, PrintPutsEveryCardsImageOnThePage) {
  CMainFrame& frame = open(840, 600);
  ASSERT_EQ(frame.cardCount, kCards);
  frame.dispatch(cmd::kCaptureShot);
  ASSERT_EQ(frame.state, 0);
  const std::string pdf = (dir_ / "page.pdf").string();
  std::vector<std::string> raws;
  for (int i = 0; i < kCards; ++i) {
    ASSERT_TRUE(frame.cards[i].image.pixels);
    raws.push_back((dir_ / ("card" + std::to_string(i) + ".rgb")).string());
    demo::testing::paintPattern(frame.cards[i].image, 160, 120, i + 1, raws.back());
  }
  bool asked = false;
  onModal<QPrintDialog>([&](QPrintDialog& dialog) {
    asked = true;
    dialog.printer()->setOutputFormat(QPrinter::PdfFormat);
    dialog.printer()->setOutputFileName(QString::fromStdString(pdf));
    // done(), not accept(): accept() takes the destination from the dialog's fields.
    dialog.done(QDialog::Accepted);
  });
  frame.dispatch(cmd::kPrint);
  ASSERT_TRUE(asked);
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_EQ(runPython(dir_, demo::testing::printedImagesScript(pdf, raws, 160, 120)), "160 120 close\n160 120 close\n");
}

TEST_F(DemoTest, PrintCancelledWritesNothing) {
  CMainFrame& frame = open(840, 600);
  const std::string pdf = (dir_ / "page.pdf").string();
  onModal<QPrintDialog>([&](QPrintDialog& dialog) {
    dialog.printer()->setOutputFormat(QPrinter::PdfFormat);
    dialog.printer()->setOutputFileName(QString::fromStdString(pdf));
    dialog.reject();
  });
  frame.dispatch(cmd::kPrint);
  EXPECT_FALSE(std::filesystem::exists(pdf));
}

// Bit of pixel (x, y) in a card's mask buffer, by the card's scan mode.
bool maskBit(const LxCardRecord& record, int x, int y) {
  uint32_t half = 0, line = static_cast<uint32_t>(y);
  if (record.scanMode == LX_SCAN_MODE_FRAME) {
    half = static_cast<uint32_t>(y) % 2;
    line = static_cast<uint32_t>(y) / 2;
  } else if (record.scanMode == LX_SCAN_MODE_FIELD1) {
    half = 1;
  }
  const uint32_t byte = half * LX_MASK_FIELD_BYTES + line * LX_MASK_LINE_BYTES + static_cast<uint32_t>(x) / 8;
  const int bit = record.maskBitOrder == 0 ? x % 8 : 7 - x % 8;
  return (record.maskBuffer[byte] >> bit) & 1;
}

bool inDemonstrationArea(int x, int y) {
  return (x >= 50 && x < 100 && y >= 50 && y < 100) || (x >= 100 && x < 200 && y == 150);
}

TEST_F(DemoTest, MaskHidesTheDemonstrationAreasOfEveryCardAndShowsTheRest) {
  CMainFrame& frame = open(840, 600);
  ASSERT_EQ(frame.cardCount, kCards);
  // Cleared first: the shown pixels must be written, not left from opening.
  for (int i = 0; i < kCards; ++i) ASSERT_EQ(LxFlushMask(frame.cards[i].handle, 0), LX_OK);
  frame.dispatch(cmd::kMask);
  ASSERT_EQ(frame.maskEnabled, 1);
  for (int i = 0; i < kCards; ++i) {
    const CardRecord& card = frame.cards[i];
    const LxCardRecord record = terncard::testing::recordOf(card.handle);
    ASSERT_NE(record.maskBuffer, nullptr) << i;
    EXPECT_EQ(record.maskEnabled, 1);
    const int height = (card.scanMode == 1 || card.scanMode == 2) ? card.frameHeight / 2 : card.frameHeight;
    int wrong = 0, hidden = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < card.frameWidth; ++x) {
        const bool shown = maskBit(record, x, y);
        hidden += !shown;
        if (shown == inDemonstrationArea(x, y) && wrong++ < 5)
          ADD_FAILURE() << "card " << i << " pixel (" << x << ", " << y << ") shown " << shown;
      }
    EXPECT_EQ(wrong, 0) << "card " << i;
    EXPECT_EQ(hidden, 50 * 50 + 100) << "card " << i;
  }
  frame.dispatch(cmd::kMask);
  for (int i = 0; i < kCards; ++i) EXPECT_EQ(terncard::testing::recordOf(frame.cards[i].handle).maskEnabled, 0);
}

TEST_F(DemoTest, MovesOffTheScreenAreTakenBackToItsEdges) {
  CMainFrame& frame = open(400, 300);
  // The machine's display, as the configuration gives it.
  ASSERT_EQ(frame.screenWidth, 1024);
  ASSERT_EQ(frame.screenHeight, 768);
  frame.move(-300, -200);
  lxqt::pumpMessages(20);
  EXPECT_EQ(frame.frameGeometry().topLeft(), QPoint(0, 0));
  frame.move(5000, 4000);
  lxqt::pumpMessages(20);
  const QRect outer = frame.frameGeometry();
  EXPECT_EQ(outer.right() + 1, frame.screenWidth);
  EXPECT_EQ(outer.bottom() + 1, frame.screenHeight);
  frame.move(30, 40);
  lxqt::pumpMessages(20);
  EXPECT_EQ(frame.frameGeometry().topLeft(), QPoint(30, 40)) << "a place on the screen is kept";
}

TEST_F(DemoTest, AllocateWithTheCurrentSizeChangesNothingAndAboutNamesTheProgram) {
  CMainFrame& frame = open(400, 300);
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  bool allocateSeen = false;
  onModal<demo::AllocateDialog>([&](demo::AllocateDialog& allocate) {
    allocateSeen = true;
    EXPECT_EQ(allocate.pagesEdit()->text().toUInt(), pages);
    EXPECT_EQ(allocate.allocatedText()->text(), QString::asprintf("%u Pages (%u KB)", pages, pages * 4));
    EXPECT_EQ(allocate.statusText()->text(), "Allocation is successful.");
    allocate.pagesEdit()->setText("10000001");
    allocate.accept();
    EXPECT_EQ(messages_.size(), 1u) << "the range message";
    EXPECT_TRUE(allocate.isVisible()) << "the dialog stays open";
    allocate.pagesEdit()->setText(QString::number(pages));
    allocate.accept();
    EXPECT_FALSE(allocate.isVisible());
    EXPECT_FALSE(allocate.restarting());
  });
  frame.dispatch(cmd::kAllocateMemory);
  EXPECT_TRUE(allocateSeen);
  EXPECT_EQ(messages_.size(), 1u) << "no question, no notice";
  uint32_t after = 0;
  EXPECT_EQ(LxGetStaticMem(&after), LX_OK);
  EXPECT_EQ(after, pages);

  QString title;
  QStringList texts;
  onModal<demo::AboutDialog>([&](demo::AboutDialog& about) {
    title = about.windowTitle();
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    about.accept();
  });
  frame.dispatch(cmd::kAbout);
  EXPECT_EQ(title, "About LxMPerf");
  EXPECT_TRUE(texts.contains("LxMPerf Version 1.0")) << texts.join("|").toStdString();
}

}  // namespace
}  // namespace lxmperf::testing
