// LxMPerf on a machine with LXMPERF_CARDS cards, each with its own stamp
// source (ID 11, 12, ...): the grid's cells, every tile's live video decoded
// from the screen's video memory as its own card's, and (4 cards) the
// selection rule with the Select card dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <QRadioButton>
#include <QScrollBar>

#include <cstring>
#include <string>

#include "democommon/adjust_dialog.h"
#include "democommon/source_dialog.h"

#include "card_record_copy.h"
#include "frame_fixture.h"
#include "line_stamp.h"
#include "machine_first.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() {
  static const std::string config = [] {
    std::string text = "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n";
    for (int card = 0; card < LXMPERF_CARDS; ++card)
      text += "[[terncard]]\nsignature = true\nsources = [\"stamp:" + std::to_string(11 + card) +
              "\", \"none\", \"none\", \"none\"]\n\n";
    return text;
  }();
  return config.c_str();
}

namespace lxmperf::testing {
namespace {

constexpr int kViewWidth = 840, kViewHeight = 600;

// Lines of a card's output rectangle on the screen whose stamp names `id`.
int linesStampedWith(const CardRecord& card, int id) {
  terncard::testing::VideoMemory vram;
  if (!vram) return 0;
  int lines = 0;
  for (int y = card.output.top; y < card.output.bottom; ++y) {
    const auto stamp = lxtest::decodeLineStamp(vram.at(static_cast<uint32_t>(card.output.left), static_cast<uint32_t>(y)),
                                               card.output.width(), 4);
    if (stamp && stamp->sourceId == id) ++lines;
  }
  return lines;
}

TEST_F(FrameTest, EveryCardHasItsCellAndItsTileShowsItsOwnVideo) {
  CMainFrame& frame = open(kViewWidth, kViewHeight);
  ASSERT_EQ(frame.cardCount, LXMPERF_CARDS);
  EXPECT_EQ(frame.selectedCard, LXMPERF_CARDS) << "all cards at start";
  EXPECT_TRUE(messages_.empty()) << messages_.front();

  // 3 and 4 cards: 2 x 2; 5 cards: 2 rows of 3.
  const int columns = LXMPERF_CARDS == 5 ? 3 : 2;
  const int rows = 2;
  const int w = kViewWidth / columns, h = kViewHeight / rows;
  const QPoint origin = frame.view()->mapToGlobal(QPoint(0, 0));
  for (int i = 0; i < LXMPERF_CARDS; ++i) {
    const CardRecord& card = frame.cards[i];
    const int x = origin.x() + w * (i % columns), y = origin.y() + h * (i / columns);
    EXPECT_EQ(card.tile, (Rect{x, y, x + w - 1, y + h - 1})) << "card " << i;
    EXPECT_EQ(card.output.left % 4, 0);
    EXPECT_EQ(card.output.right % 4, 0);
    EXPECT_EQ(card.output.top % 2, 0);
    EXPECT_EQ(card.output.bottom % 2, 0);
    EXPECT_GE(card.output.left, card.tile.left);
    EXPECT_LE(card.output.right, card.tile.right);
    // The card itself got the window, and clip mode takes the picture 1:1.
    const LxCardRecord record = terncard::testing::recordOf(card.handle);
    EXPECT_EQ(record.outputX, card.output.left);
    EXPECT_EQ(record.outputY, card.output.top);
    EXPECT_EQ(record.outputWidth, card.output.width());
    EXPECT_EQ(card.input, (Rect{0, 0, card.output.width(), card.output.height()}));
    EXPECT_EQ(record.bytesPerPixel, 4) << "RGB8888 from the 32-bit screen";
  }

  frame.dispatch(cmd::kCapture);
  ASSERT_EQ(frame.state, 2);
  EXPECT_TRUE(checked(cmd::kCapture));
  EXPECT_FALSE(enabled(cmd::kSnap));
  for (int i = 0; i < LXMPERF_CARDS; ++i) {
    const CardRecord& card = frame.cards[i];
    const int half = card.output.height() / 2;
    EXPECT_TRUE(pumpUntil([&] { return linesStampedWith(card, 11 + i) >= half; }))
        << "tile " << i << ": " << linesStampedWith(card, 11 + i) << " of " << card.output.height()
        << " lines from its own card";
    for (int other = 0; other < LXMPERF_CARDS; ++other) {
      if (other != i) {
        EXPECT_EQ(linesStampedWith(card, 11 + other), 0) << "card " << other << " in tile " << i;
      }
    }
  }

  frame.dispatch(cmd::kCapture);
  EXPECT_EQ(frame.state, 0);
  // The last picture of each tile is read back into its card's image.
  for (int i = 0; i < LXMPERF_CARDS; ++i) {
    const CardRecord& card = frame.cards[i];
    EXPECT_EQ(card.image.width(), card.output.width());
    EXPECT_EQ(card.image.height(), card.output.height());
    EXPECT_EQ(card.image.bitCount(), 24);
  }
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

#if LXMPERF_CARDS == 4
TEST_F(FrameTest, AFormatCommandChangesTheSelectedCardOrAllAndTheCheckFollowsCardZero) {
  CMainFrame& frame = open(kViewWidth, kViewHeight);
  const auto bytesOf = [&](int i) { return terncard::testing::recordOf(frame.cards[i].handle).bytesPerPixel; };

  // The dialog lists the cards and "All card", on the current selection.
  {
    CSelectDlg dialog(4, 4);
    ASSERT_EQ(dialog.list()->count(), 5);
    EXPECT_EQ(dialog.list()->itemText(0).toStdString(), "Card number 1");
    EXPECT_EQ(dialog.list()->itemText(3).toStdString(), "Card number 4");
    EXPECT_EQ(dialog.list()->itemText(4).toStdString(), "All card");
    EXPECT_EQ(dialog.list()->currentIndex(), 4);
    EXPECT_EQ(dialog.totalText()->text().toStdString(), "Card total: 4");
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Select card");
  }

  selectCard(1);
  ASSERT_EQ(frame.selectedCard, 1);
  frame.dispatch(cmd::kRgb565);
  EXPECT_EQ(frame.cards[1].videoFormat, 2);
  EXPECT_EQ(bytesOf(1), 2);
  for (int i : {0, 2, 3}) {
    EXPECT_EQ(frame.cards[i].videoFormat, 4) << i;
    EXPECT_EQ(bytesOf(i), 4) << i;
  }
  EXPECT_TRUE(checked(cmd::kRgb565)) << "the selected card's format";
  EXPECT_FALSE(checked(cmd::kRgb8888));

  selectCard(4);
  ASSERT_EQ(frame.selectedCard, 4);
  frame.dispatch(cmd::kRgb888);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(frame.cards[i].videoFormat, 1) << i;
    EXPECT_EQ(bytesOf(i), 3) << i;
  }

  selectCard(0);
  frame.dispatch(cmd::kRgb565);
  selectCard(4);
  EXPECT_TRUE(checked(cmd::kRgb565)) << "card 0's format while all are selected";
  EXPECT_FALSE(checked(cmd::kRgb888)) << "although cards 1 to 3 hold RGB888";
  EXPECT_EQ(frame.cards[1].videoFormat, 1);

  // Cancel keeps the selection.
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<CSelectDlg*>(QApplication::activeModalWidget())) {
      dialog->list()->setCurrentIndex(2);
      dialog->reject();
    }
  });
  frame.dispatch(cmd::kSelectCard);
  EXPECT_EQ(frame.selectedCard, 4);
}
#endif

#if LXMPERF_CARDS == 3
// Runs `act` on the modal dialog of type D that `id` opens, then ends it.
template <typename D>
void onDialog(CMainFrame& frame, int id, std::function<void(D&)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) act(*dialog);
  });
  frame.dispatch(id);
}

TEST_F(FrameTest, DialogMessagesReachTheSelectedCardsAndTheRecordsChangeOnlyOnOk) {
  CMainFrame& frame = open(kViewWidth, kViewHeight);
  // Messages change the cards only; a refused value comes back as the status.
  frame.selectedCard = 1;
  const int detected = frame.cards[1].sourceNumber;  // the input with the signal
  EXPECT_EQ(frame.OnDialogMessage(cmd::kMsgAdjust, 1, 77), 0);
  EXPECT_EQ(frame.OnDialogMessage(cmd::kMsgSetPll, 0x1F0, 0), 0) << "masked to 8 bits";
  EXPECT_EQ(frame.OnDialogMessage(cmd::kMsgSetSource, 0, 1), 0);
  EXPECT_NE(frame.OnDialogMessage(cmd::kMsgSetSource, 0, 5), 0) << "the card has no sixth composite input";
  EXPECT_NE(frame.OnDialogMessage(cmd::kMsgSetSource, 7, 0), 0) << "no such input kind";
  EXPECT_NE(frame.OnDialogMessage(cmd::kMsgAdjust, 9, 1), 0) << "no such adjust item";
  EXPECT_EQ(frame.cards[1].brightness, 128);
  EXPECT_EQ(frame.cards[1].pll, 245);
  EXPECT_EQ(frame.cards[1].sourceNumber, detected);

  // Adjust: one step of the brightness bar and OK; only card 1's record.
  onDialog<demo::AdjustDialog>(frame, cmd::kAdjust, [](demo::AdjustDialog& dialog) {
    EXPECT_EQ(dialog.bar(demo::AdjustDialog::Brightness)->value(), 128);
    dialog.bar(demo::AdjustDialog::Brightness)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    dialog.bar(demo::AdjustDialog::Pll)->triggerAction(QAbstractSlider::SliderPageStepSub);
    dialog.accept();
  });
  EXPECT_EQ(frame.cards[1].brightness, 129);
  EXPECT_EQ(frame.cards[1].pll, 235);
  EXPECT_EQ(frame.cards[0].brightness, 128);
  EXPECT_EQ(frame.cards[2].pll, 245);

  // All cards, Cancel: the dialog opens with card 0's values, records stay.
  frame.selectedCard = 3;
  onDialog<demo::AdjustDialog>(frame, cmd::kAdjust, [](demo::AdjustDialog& dialog) {
    EXPECT_EQ(dialog.bar(demo::AdjustDialog::Brightness)->value(), 128) << "card 0's value";
    dialog.bar(demo::AdjustDialog::Hue)->triggerAction(QAbstractSlider::SliderSingleStepSub);
    dialog.reject();
  });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frame.cards[i].hue, 128) << i;

  // Video Source: opened on card 0's input; "Video 6", which the cards
  // refuse, puts the selection back; "Video 2" and OK, every card's record.
  onDialog<demo::SourceDialog>(frame, cmd::kVideoSource, [&](demo::SourceDialog& dialog) {
    EXPECT_EQ(dialog.selected(), frame.cards[0].sourceNumber);
    dialog.button(5)->click();
    EXPECT_EQ(dialog.selected(), frame.cards[0].sourceNumber);
    dialog.button(1)->click();
    EXPECT_EQ(dialog.selected(), 1);
    dialog.accept();
  });
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(frame.cards[i].sourceKind, 0) << i;
    EXPECT_EQ(frame.cards[i].sourceNumber, 1) << i;
  }
}

TEST_F(FrameTest, CaptureShotSnapAndMaskActOnEveryCard) {
  CMainFrame& frame = open(kViewWidth, kViewHeight);
  frame.dispatch(cmd::kCaptureShot);
  EXPECT_EQ(frame.state, 0);
  for (int i = 0; i < 3; ++i) {
    const CardRecord& card = frame.cards[i];
    ASSERT_EQ(card.image.width(), card.output.width()) << i;
    ASSERT_EQ(card.image.bitCount(), 24);
    // The read-back holds the card's own picture (rows bottom-up, 4-byte rows).
    const int stride = (card.image.width() * 3 + 3) / 4 * 4;
    int rows = 0;
    for (int y = 0; y < card.image.height(); ++y) {
      const auto stamp = lxtest::decodeLineStamp(card.image.pixels.get() + y * stride, card.image.width(), 1);
      rows += stamp && stamp->sourceId == 11 + i;
    }
    EXPECT_GT(rows, card.image.height() / 2) << "card " << i;
  }

  frame.dispatch(cmd::kMask);
  EXPECT_EQ(frame.maskEnabled, 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(terncard::testing::recordOf(frame.cards[i].handle).maskEnabled, 1) << i;
  frame.dispatch(cmd::kMask);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(terncard::testing::recordOf(frame.cards[i].handle).maskEnabled, 0) << i;

  // Snap-ex: one ring after the other, each card's frames drawn into its tile.
  {
    terncard::testing::VideoMemory vram;
    ASSERT_TRUE(vram);
    for (int y = 0; y < 768; ++y) std::memset(vram.line(static_cast<uint32_t>(y)), 0, 1024 * 4);
  }
  frame.dispatch(cmd::kSnap);
  ASSERT_EQ(frame.state, 4);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  const uint32_t ring = 4u * static_cast<uint32_t>(frame.cards[0].output.width() * frame.cards[0].output.height()) * 2u;
  EXPECT_EQ(frame.cards[1].staticOffset, ring);
  EXPECT_EQ(frame.cards[2].staticOffset, 2 * ring);
  for (int i = 0; i < 3; ++i) {
    const CardRecord& card = frame.cards[i];
    EXPECT_TRUE(pumpUntil([&] { return linesStampedWith(card, 11 + i) >= card.output.height() / 2; }))
        << "tile " << i << ": " << linesStampedWith(card, 11 + i);
  }
  frame.dispatch(cmd::kSnap);
  EXPECT_EQ(frame.state, 0);
  EXPECT_EQ(terncard::testing::recordOf(frame.cards[0].handle).state, 0);
}

TEST_F(FrameTest, ClosingDuringCirclePlaybackWritesEverySectionAndStopsTheTimer) {
  CMainFrame& frame = open(kViewWidth, kViewHeight);
  frame.dispatch(cmd::kSnapShot);
  ASSERT_GE(frame.imageCount, 1);
  frame.selectedCard = 2;
  frame.dispatch(cmd::kNtsc);
  ASSERT_EQ(frame.cards[2].videoStandard, 1);
  frame.dispatch(cmd::kCircle);
  ASSERT_EQ(frame.state, 5);
  ASSERT_TRUE(pumpUntil([&] { return frame.playbackIndex >= 1; }, 5));
  frame.close();
  const int index = frame.playbackIndex;
  lxqt::pumpMessages(300);
  EXPECT_EQ(frame.playbackIndex, index) << "the timer is stopped";
  EXPECT_EQ(frame.state, 5) << "no Capture or Snap was dispatched";
  for (int i = 0; i < 3; ++i) {
    char section[32];
    settingsSectionOf(i, section);
    EXPECT_EQ(GetPrivateProfileIntA(section, "Standard", -1, "LxCard.ini"), i == 2 ? 1 : 0) << section;
    EXPECT_EQ(GetPrivateProfileIntA(section, "PLL", -1, "LxCard.ini"), 245) << section;
  }
}
#endif

}  // namespace
}  // namespace lxmperf::testing
