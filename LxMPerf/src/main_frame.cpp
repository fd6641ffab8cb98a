#include "main_frame.h"

#include <QCloseEvent>
#include <QMoveEvent>
#include <QResizeEvent>

#include <cstring>

#include "democommon/message_box.h"
#include "democommon/video_formats.h"
#include "command_ids.h"
#include "grid.h"
#include "lx/snap_ex.h"
#include "lx/monitored_capture.h"
#include "lxqt/bridge.h"
#include "selection.h"
#include "view.h"

namespace lxmperf {

CMainFrame::CMainFrame() {
  int32_t total = 0;
  if (LxGetCardTotal(&total) != LX_OK || total < 0) total = 0;
  // The record table serves card numbers 1 to 128; further cards stay closed.
  if (total > kMaxCards) {
    ignoredCards = total - kMaxCards;
    total = kMaxCards;
  }
  cardCount = total;
  if (cardCount < 1) demo::showStatusError(LX_NO_CARD_FOUND);
  for (int i = 0; i < cardCount; ++i) {
    LxCardHandle handle = nullptr;
    const LxStatus status = BeginLxCard(i + 1, &handle);
    if (status != LX_OK) {
      demo::showStatusError(status);
      continue;
    }
    cards[i].handle = handle;
  }
  selectedCard = cardCount;

  setWindowTitle("Lx Multi Performance");
  view_ = new CLxMPerfView(this);
  setCentralWidget(view_);
  buildMenus();
  viewTarget_.view = viewWindow();
  for (CardRecord& card : cards) card.viewTarget = &viewTarget_;
}

CMainFrame::~CMainFrame() {
  stopPlaybackTimer();
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    if (!card.handle) continue;
    // A frame destroyed without closing (a test, a failed start) still ends
    // what runs: a card under snap-ex cannot be ended.
    if (state == 2) LxCaptureEx(card.handle, viewTarget_.view, 0);
    if (state == 4) LxCloseSnapEx(card.handle);
    EndLxCard(card.handle);
    card.handle = nullptr;
    card.image.pixels.reset();
  }
  if (greyPalette) demo::deletePalette(greyPalette);
  greyPalette = nullptr;
}

HWND CMainFrame::viewWindow() const { return lxqt::hwndOf(view_); }

Rect CMainFrame::viewClientOnScreen() const {
  const QPoint origin = view_->mapToGlobal(QPoint(0, 0));
  return {origin.x(), origin.y(), origin.x() + view_->width(), origin.y() + view_->height()};
}

void CMainFrame::OnCreate() {
  for (int i = 0; i < cardCount; ++i) readCardSettings(i, &cards[i]);
  for (int i = 0; i < cardCount; ++i) detectSource(&cards[i]);

  HDC screen = GetDC(nullptr);
  screenWidth = GetDeviceCaps(screen, HORZRES);
  screenHeight = GetDeviceCaps(screen, VERTRES);
  screenDepth = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  greyPalette = demo::createGreyPalette();
  viewTarget_.greyPalette = greyPalette;
  const int format = demo::formatForDepth(screenDepth);
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    if (format >= 0) card.videoFormat = format;
    demo::resetImageHeader(&card.image.header);
    if (card.image.allocate()) std::memset(card.image.pixels.get(), 0, demo::kImageBufferBytes);
  }
  for (int i = 0; i < cardCount; ++i) pushRecord(cards[i]);
}

void CMainFrame::Place() {
  if (placing_) return;
  placing_ = true;
  const Rect client = viewClientOnScreen();
  uint32_t running = 0;
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    card.tile = tileRect(client, cardCount, i);
    card.output = outputRect(card.tile, screenWidth, screenHeight, card.frameWidth, card.frameHeight);
    // The picture is read and drawn where the card writes it: at the tile's
    // origin it would be off by the alignment of the output's left edge.
    card.outputViewX = card.output.left - client.left;
    card.outputViewY = card.output.top - client.top;
    if (!card.handle) continue;
    if (state == 4) LxStopSnapEx(card.handle);
    card.input = clip ? Rect{0, 0, card.output.width(), card.output.height()}
                      : Rect{0, 0, card.frameWidth, card.frameHeight};
    LxSetInputWindow(card.handle, 0, 0, card.input.width(), card.input.height());
    LxSetOutputWindow(card.handle, card.output.left, card.output.top, card.output.width(), card.output.height());
    if (state == 4) {
      card.staticOffset = running;
      LxStartSnapEx(card.handle, running, card.interline, 2);
      running += static_cast<uint32_t>((demo::bitsPerPixel(card.videoFormat) + 7) / 8) *
                 static_cast<uint32_t>(card.output.height()) * static_cast<uint32_t>(card.output.width()) * 2u;
    }
  }
  view_->update();
  placing_ = false;
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (!isMaximized() && !isMinimized() && screenWidth > 0) {
    const QRect outer = frameGeometry();
    int x = outer.x(), y = outer.y();
    keepFrameOnScreen(&x, &y, outer.width(), outer.height(), screenWidth, screenHeight);
    if (x != outer.x() || y != outer.y()) {
      move(x, y);
      return;
    }
  }
  Place();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Place();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  for (int i = 0; i < cardCount; ++i) writeCardSettings(i, cards[i]);
  if (state == 5 && stepMode == 0) stopPlaybackTimer();
  if (state == 2) OnCommand(cmd::kCapture);
  if (state == 4) OnCommand(cmd::kSnap);
  event->accept();
}

void CMainFrame::forSelected(const std::function<void(CardRecord&)>& action) {
  for (int i : selectedCards(selectedCard, cardCount)) {
    if (cards[i].handle) action(cards[i]);
  }
}

LRESULT CMainFrame::OnDialogMessage(UINT code, WPARAM first, LPARAM second) {
  // The answer is the last refusal of a card (0 when every card took it),
  // so the Video Source dialog puts back an input the cards refuse.
  LRESULT result = 0;
  const auto note = [&result](LxStatus status) {
    if (status != LX_OK) result = status;
  };
  switch (code) {
    case cmd::kMsgSetSource:
      forSelected([&](CardRecord& card) {
        note(LxSetVideoSource(card.handle, LxVideoSource{static_cast<int32_t>(first), static_cast<int32_t>(second)}));
      });
      break;
    case cmd::kMsgAdjust:
      forSelected([&](CardRecord& card) {
        note(LxAdjustVideo(card.handle, static_cast<uint32_t>(first), static_cast<uint8_t>(second & 0xFF)));
      });
      break;
    case cmd::kMsgSetPll:
      forSelected([&](CardRecord& card) { note(LxSetPLLFrequency(card.handle, static_cast<uint8_t>(first & 0xFF))); });
      break;
    default:
      break;
  }
  return result;
}

CommandInputs CMainFrame::commandInputs() const {
  CommandInputs in;
  in.osCode = osInfo.GetOsCode();
  in.state = state;
  in.imageCount = imageCount;
  in.stepMode = stepMode;
  in.clip = clip;
  in.maskEnabled = maskEnabled;
  const int shown = shownCard(selectedCard, cardCount);
  if (shown >= 0) {
    const CardRecord& card = cards[shown];
    in.haveCard = true;
    in.videoFormat = card.videoFormat;
    in.videoStandard = card.videoStandard;
    in.scanMode = card.scanMode;
    in.interline = card.interline;
    in.cryOsc = card.cryOsc;
    in.mirrorHorizontal = card.mirrorHorizontal;
    in.mirrorVertical = card.mirrorVertical;
    in.lumaControl = card.lumaControl;
  }
  return in;
}

CommandRule CMainFrame::QueryCommand(int id) const { return commandRule(id, commandInputs()); }

}  // namespace lxmperf
