// The parameter dialogs of the multi-card program. They never touch a card
// themselves: every change goes to the main frame as message 1124, 1125 or
// 1126, which applies it by the selection rule; the records take the
// dialog's values only when it ends with OK.
#include <QDesktopServices>
#include <QUrl>

#include "command_ids.h"
#include "democommon/about_dialog.h"
#include "democommon/adjust_dialog.h"
#include "democommon/allocate_dialog.h"
#include "democommon/message_box.h"
#include "democommon/restart.h"
#include "democommon/source_dialog.h"
#include "democommon/video_formats.h"
#include "main_frame.h"
#include "selection.h"

namespace lxmperf {

void CMainFrame::openSourceDialog() {
  const int shown = shownCard(selectedCard, cardCount);
  const int openingKind = shown >= 0 ? cards[shown].sourceKind : 0;
  const int openingNumber = shown >= 0 ? cards[shown].sourceNumber : 0;
  int kind = openingKind, number = openingNumber;
  const auto send = [&](int k, int n) {
    const auto status = static_cast<int>(OnDialogMessage(cmd::kMsgSetSource, static_cast<WPARAM>(k), n));
    if (status == 0) {
      kind = k;
      number = n;
    }
    return status;
  };
  demo::SourceDialog dialog(
      openingKind, openingNumber,
      [&](int flat) {
        int k = 0, n = 0;
        if (!demo::sourceOfFlat(flat, &k, &n)) return 0;
        return send(k, n);
      },
      send, this);
  if (dialog.exec() != QDialog::Accepted) return;
  forSelected([&](CardRecord& card) {
    card.sourceKind = kind;
    card.sourceNumber = number;
  });
}

void CMainFrame::openAdjustDialog() {
  const int shown = shownCard(selectedCard, cardCount);
  demo::AdjustDialog::Values opening = demo::AdjustDialog::kDefaults;
  if (shown >= 0) {
    const CardRecord& card = cards[shown];
    opening = {card.brightness, card.contrast, card.hue, card.saturation, card.pll};
  }
  demo::AdjustDialog dialog(
      opening,
      [this](int row, int value) {
        if (row == demo::AdjustDialog::Pll)
          OnDialogMessage(cmd::kMsgSetPll, static_cast<WPARAM>(value), 0);
        else
          OnDialogMessage(cmd::kMsgAdjust, static_cast<WPARAM>(row + 1), value);
      },
      this);
  if (dialog.exec() != QDialog::Accepted) return;
  const demo::AdjustDialog::Values values = dialog.values();
  forSelected([&](CardRecord& card) {
    card.brightness = static_cast<uint8_t>(values[demo::AdjustDialog::Brightness]);
    card.contrast = static_cast<uint8_t>(values[demo::AdjustDialog::Contrast]);
    card.hue = static_cast<uint8_t>(values[demo::AdjustDialog::Hue]);
    card.saturation = static_cast<uint8_t>(values[demo::AdjustDialog::Saturation]);
    card.pll = static_cast<uint8_t>(values[demo::AdjustDialog::Pll]);
  });
}

void CMainFrame::openAllocateDialog() {
  demo::AllocateDialog dialog([this] { return demo::restartComputer(osInfo, "LxMPerf"); }, "LxMPerf", this);
  dialog.exec();
}

void CMainFrame::openAboutDialog() {
  demo::AboutDialog dialog("LxMPerf", this);
  dialog.exec();
}

void CMainFrame::openWebPage(bool mail) {
  if (QDesktopServices::openUrl(QUrl(mail ? demo::kMakerSupportMail : demo::kMakerWebPage))) return;
  demo::showWarning(mail ? "Sorry: cannot access email" : "Sorry: cannot access web location", "LxMPerf");
}

}  // namespace lxmperf
