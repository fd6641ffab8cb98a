// The main frame's command dispatch and its parameter commands: each acts
// on the selected card or on every card, and a record changes only when its
// card took the value.
#include <QApplication>

#include "command_ids.h"
#include "democommon/video_formats.h"
#include "main_frame.h"
#include "select_dialog.h"
#include "view.h"

namespace lxmperf {

void CMainFrame::OnCommand(int id) {
  if (!QueryCommand(id).enabled) return;
  if (const int format = formatOfCommand(id); format >= 0) return setFormat(format);
  switch (id) {
    case cmd::kCapture: return capture();
    case cmd::kCaptureShot: return captureShot();
    case cmd::kSnap: return snap();
    case cmd::kSnapShot: return snapShot();
    case cmd::kSaveSerials: return saveSerials();
    case cmd::kStep: return step();
    case cmd::kCircle: return circle();
    case cmd::kStop: return stopPlayback();
    case cmd::kClip: return setClip(1);
    case cmd::kScale: return setClip(0);
    case cmd::kMask: return mask();
    case cmd::kPal: return setStandard(0);
    case cmd::kNtsc: return setStandard(1);
    case cmd::kFrame: return setScanMode(0);
    case cmd::kField: return setScanMode(1);
    case cmd::kField1: return setScanMode(2);
    case cmd::kInterline: return toggleInterline();
    case cmd::kOsc35M: return setCryOsc(0);
    case cmd::kOsc28M: return setCryOsc(1);
    case cmd::kHorizon: return toggleMirror(0);
    case cmd::kVertical: return toggleMirror(1);
    case cmd::kChroma: return toggleLuma();
    case cmd::kSelectCard: return selectCard();
    case cmd::kVideoSource: return openSourceDialog();
    case cmd::kAdjust: return openAdjustDialog();
    case cmd::kAllocateMemory: return openAllocateDialog();
    case cmd::kAbout: return openAboutDialog();
    case cmd::kWebPage: return openWebPage(false);
    case cmd::kContact: return openWebPage(true);
    case cmd::kPrint: return print(false);
    case cmd::kPrintPreview: return print(true);
    case cmd::kPrintSetup: return print(false);
    case cmd::kExit: close(); return;
    default: return;
  }
}

void CMainFrame::setFormat(int format) {
  forSelected([&](CardRecord& card) {
    if (LxSetVideoFormat(card.handle, format) == LX_OK) card.videoFormat = format;
  });
}

void CMainFrame::setStandard(int standard) {
  bool changed = false;
  forSelected([&](CardRecord& card) {
    if (LxSetVideoStandard(card.handle, standard) != LX_OK) return;
    card.videoStandard = standard;
    card.frameWidth = demo::frameWidthOf(standard);
    card.frameHeight = demo::frameHeightOf(standard);
    changed = true;
  });
  // The picture's size bounds the output and is the input window when
  // scaling: the windows follow the new standard.
  if (changed) Place();
}

void CMainFrame::setScanMode(int mode) {
  forSelected([&](CardRecord& card) {
    if (LxSetScanMode(card.handle, static_cast<uint32_t>(mode)) == LX_OK) card.scanMode = mode;
  });
}

void CMainFrame::setCryOsc(int oscillator) {
  forSelected([&](CardRecord& card) {
    if (LxSelectCryOSC(card.handle, oscillator) == LX_OK) card.cryOsc = oscillator;
  });
}

void CMainFrame::toggleMirror(int direction) {
  forSelected([&](CardRecord& card) {
    int& flag = direction == 0 ? card.mirrorHorizontal : card.mirrorVertical;
    flag = !flag;
    if (LxEnableVideoMirror(card.handle, direction, flag) != LX_OK) flag = !flag;
  });
}

void CMainFrame::toggleLuma() {
  forSelected([&](CardRecord& card) {
    card.lumaControl = !card.lumaControl;
    if (LxLumaControl(card.handle, 0, static_cast<uint8_t>(card.lumaControl)) != LX_OK)
      card.lumaControl = !card.lumaControl;
  });
}

void CMainFrame::toggleInterline() {
  forSelected([](CardRecord& card) { card.interline = !card.interline; });
}

void CMainFrame::setClip(int value) {
  if (clip != value) clip = value;
  Place();
}

void CMainFrame::mask() {
  maskEnabled = !maskEnabled;
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    if (!card.handle) continue;
    if (maskEnabled) {
      const int height = (card.scanMode == 1 || card.scanMode == 2) ? card.frameHeight / 2 : card.frameHeight;
      // Every pixel is set, even after one the card refused.
      const auto setRect = [&](int x0, int y0, int width, int rows, int hide) {
        for (int x = x0; x < x0 + width; ++x)
          for (int y = y0; y < y0 + rows; ++y)
            LxSetPixelMask(card.handle, static_cast<uint32_t>(x), static_cast<uint32_t>(y), hide);
      };
      setRect(0, 0, card.frameWidth, height, 0);
      setRect(50, 50, 50, 50, 1);
      setRect(100, 150, 100, 1, 1);
    }
    LxEnableMask(card.handle, maskEnabled);
  }
}

void CMainFrame::selectCard() {
  CSelectDlg dialog(cardCount, selectedCard, this);
  if (dialog.exec() == QDialog::Accepted) selectedCard = dialog.selection();
}

}  // namespace lxmperf
