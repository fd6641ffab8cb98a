// The parameter dialogs on the real card: Adjust's scroll rules and Cancel,
// Video Source's refusals, Allocate memory with the current size, and the
// Help links' failure texts.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "command_ids.h"
#include "democommon/adjust_dialog.h"
#include "democommon/allocate_dialog.h"
#include "democommon/delay_dialog.h"
#include "democommon/source_dialog.h"
#include "frame_fixture.h"

namespace lxperf::testing {
namespace {

using DialogTest = FrameTest;
using demo::AdjustDialog;

TEST_F(DialogTest, AdjustScrollsWithinTheRangeAndCancelRestoresAllFive) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  ASSERT_EQ(v.SetBrightness(0), LX_OK);
  ASSERT_EQ(v.SetPll(240), LX_OK);
  onNextDialog([&](QDialog& dialog) {
    auto& adjust = dynamic_cast<AdjustDialog&>(dialog);
    QScrollBar* brightness = adjust.bar(AdjustDialog::Brightness);
    EXPECT_EQ(brightness->objectName(), "1001");
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_EQ(adjust.valueText(AdjustDialog::Pll)->text(), "240");

    v.brightness = 99;  // what the left arrow at 0 sends must land again
    brightness->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_EQ(adjust.valueText(AdjustDialog::Brightness)->text(), "0");
    EXPECT_EQ(v.brightness, 0) << "0 sent to the card";

    brightness->setSliderDown(true);
    brightness->setSliderPosition(200);
    EXPECT_EQ(adjust.valueText(AdjustDialog::Brightness)->text(), "200");
    EXPECT_EQ(v.brightness, 200) << "sent while dragging";
    brightness->setSliderDown(false);

    QScrollBar* contrast = adjust.bar(AdjustDialog::Contrast);
    contrast->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(v.contrast, 138);
    QScrollBar* hue = adjust.bar(AdjustDialog::Hue);
    hue->setValue(250);
    hue->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(v.hue, 255) << "a page step stops at 255";
    adjust.bar(AdjustDialog::Saturation)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(v.saturation, 129);
    QScrollBar* pll = adjust.bar(AdjustDialog::Pll);
    pll->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(v.pll, 230);
    EXPECT_EQ(adjust.valueText(AdjustDialog::Pll)->text(), "230");

    adjust.reject();
    return static_cast<int>(QDialog::Rejected);
  });
  menu(kAdjust);
  EXPECT_EQ(v.brightness, 0);
  EXPECT_EQ(v.contrast, 128);
  EXPECT_EQ(v.hue, 128);
  EXPECT_EQ(v.saturation, 128);
  EXPECT_EQ(v.pll, 240) << "Cancel puts the PLL back too";
}

TEST_F(DialogTest, AdjustDefaultAndResetAndDelayCancel) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  ASSERT_EQ(v.SetHue(10), LX_OK);
  onNextDialog([&](QDialog& dialog) {
    auto& adjust = dynamic_cast<AdjustDialog&>(dialog);
    adjust.findChild<QPushButton*>("5")->click();
    EXPECT_EQ(v.hue, 128);
    EXPECT_EQ(v.pll, 245);
    EXPECT_EQ(adjust.bar(AdjustDialog::Hue)->value(), 128);
    adjust.findChild<QPushButton*>("4")->click();
    EXPECT_EQ(v.hue, 10);
    EXPECT_EQ(adjust.valueText(AdjustDialog::Hue)->text(), "10");
    adjust.accept();
    return static_cast<int>(QDialog::Accepted);
  });
  menu(kAdjust);
  EXPECT_EQ(v.hue, 10);

  onNextDialog([&](QDialog& dialog) {
    auto& delay = dynamic_cast<demo::DelayDialog&>(dialog);
    EXPECT_EQ(delay.xBar()->minimum(), -128);
    delay.yBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(v.delayY, -10);
    EXPECT_EQ(delay.yText()->text(), "-10");
    delay.xBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(v.delayX, 1);
    EXPECT_EQ(v.delayY, -10) << "both values go with every move";
    delay.reject();
    return static_cast<int>(QDialog::Rejected);
  });
  menu(kDelay);
  EXPECT_EQ(v.delayX, 0);
  EXPECT_EQ(v.delayY, 0);
}

TEST_F(DialogTest, VideoSourcePutsARefusedInputBack) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  ASSERT_EQ(v.flatSource(), 1);
  onNextDialog([&](QDialog& dialog) {
    auto& source = dynamic_cast<demo::SourceDialog&>(dialog);
    EXPECT_EQ(source.selected(), 1);
    EXPECT_EQ(source.button(1)->objectName(), "1002");
    EXPECT_EQ(source.button(5)->objectName(), "1001");
    // Video 1 has no signal but exists: the card takes it.
    source.button(0)->click();
    EXPECT_EQ(source.selected(), 0);
    EXPECT_EQ(v.flatSource(), 0);
    // This card has four composite inputs: Video 5 is refused.
    source.button(4)->click();
    EXPECT_EQ(source.selected(), 0) << "back to the last accepted input";
    EXPECT_EQ(v.flatSource(), 0);
    source.button(9)->click();  // no YCbCr input on this card
    EXPECT_EQ(source.selected(), 0);
    EXPECT_EQ(source.lastAccepted(), 0);
    source.findChild<QPushButton*>("6")->click();  // Default
    EXPECT_EQ(source.selected(), 1);
    EXPECT_EQ(v.flatSource(), 1);
    source.button(2)->click();
    EXPECT_EQ(v.flatSource(), 2);
    source.reject();
    return static_cast<int>(QDialog::Rejected);
  });
  menu(kVideoSource);
  EXPECT_EQ(v.flatSource(), 1) << "Cancel sets the opening input";
}

TEST_F(DialogTest, AllocateWithTheCurrentSizeChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  onNextDialog([&](QDialog& dialog) {
    auto& allocate = dynamic_cast<demo::AllocateDialog&>(dialog);
    EXPECT_EQ(allocate.pagesEdit()->text().toUInt(), pages);
    EXPECT_EQ(allocate.allocatedText()->text(), QString::asprintf("%u Pages (%u KB)", pages, pages * 4));
    EXPECT_EQ(allocate.statusText()->text(), "Allocation is successful.");
    allocate.pagesEdit()->setText("10000001");
    allocate.accept();
    EXPECT_EQ(messages_.size(), 1u) << "the range message";
    EXPECT_EQ(allocate.result(), 0) << "the dialog stays open";
    allocate.pagesEdit()->setText(QString::number(pages));
    allocate.accept();
    EXPECT_EQ(allocate.result(), QDialog::Accepted);
    return allocate.result();
  });
  menu(kAllocateMemory);
  EXPECT_EQ(messages_.size(), 1u) << "no question, no notice";
  uint32_t after = 0;
  EXPECT_EQ(LxGetStaticMem(&after), LX_OK) << "the size was not set again";
  EXPECT_EQ(after, pages);
  EXPECT_FALSE(frame_->restartRequested());
}

TEST_F(DialogTest, HelpLinksShowTheirFailureTexts) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  std::vector<std::string> opened;
  frame_->setUrlOpener([&](const std::string& address) {
    opened.push_back(address);
    return false;
  });
  menu(kUpdateWebsite);
  menu(kContact);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].rfind("https://", 0), 0u);
  EXPECT_EQ(opened[1].rfind("mailto:", 0), 0u);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].text, "Sorry: cannot access web location");
  EXPECT_EQ(messages_[1].text, "Sorry: cannot access email");
}

}  // namespace
}  // namespace lxperf::testing
