// The main frame's video commands for all cards together: live capture,
// capture shot, snap-ex with per-tile drawing, Snap Shot of equal series,
// Save Serials and playback from static memory.
#include <QFileDialog>

#include <algorithm>
#include <cstdio>

#include "command_ids.h"
#include "democommon/bitmap_file.h"
#include "democommon/geometry.h"
#include "democommon/message_box.h"
#include "democommon/video_formats.h"
#include "lx/monitored_capture.h"
#include "lx/data_transform.h"
#include "lx/snap_ex.h"
#include "lxqt/bridge.h"
#include "main_frame.h"
#include "view.h"

namespace lxmperf {

namespace {

// The image at the tile origin, in the smaller of its own size and the
// card's output size.
void drawTile(HDC dc, const CardRecord& card, demo::PaletteHandle greyPalette, double scale) {
  if (!card.image.pixels || card.image.width() <= 0 || card.image.height() <= 0) return;
  const int width = std::min(card.image.width(), card.output.width());
  const int height = std::min(card.image.height(), card.output.height());
  if (width <= 0 || height <= 0) return;
  demo::drawImageScaled(dc, card.image, greyPalette, static_cast<int>(card.outputViewX * scale),
                        static_cast<int>(card.outputViewY * scale), static_cast<int>(width * scale),
                        static_cast<int>(height * scale));
}

}  // namespace

void CMainFrame::readBack(CardRecord& card, HDC dc) {
  const int height = (card.scanMode == 1 || card.scanMode == 2) ? card.output.height() / 2 : card.output.height();
  int32_t bits = 0;
  const std::lock_guard imageLock(card.image.mutex);
  if (!card.image.pixels) return;
  if (LxGetDisplayBits(dc, card.outputViewX, card.outputViewY, card.output.width(), height, &bits,
                       card.image.pixels.get()) == LX_OK) {
    card.image.header.info.biWidth = card.output.width();
    card.image.header.info.biHeight = height;
    card.image.header.info.biBitCount = static_cast<WORD>(bits);
  }
}

void CMainFrame::capture() {
  const bool starting = state == 0;
  HWND window = viewWindow();
  HDC dc = GetDC(window);
  if (starting) {
    if (greyPalette) savedPalette = demo::selectPalette(dc, greyPalette);
    state = 2;
  } else {
    if (greyPalette) demo::selectPalette(dc, savedPalette);
    state = 0;
  }
  int failed = 0;
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    const LxStatus status = LxCaptureEx(card.handle, window, starting ? 1 : 0);
    if (status != LX_OK) {
      demo::showStatusError(status);
      ++failed;
      continue;
    }
    if (!starting) {
      LxCaptureShot(card.handle);
      readBack(card, dc);
    }
  }
  ReleaseDC(window, dc);
  if (failed == cardCount) state = 0;
  update();
  view_->update();
}

void CMainFrame::captureShot() {
  HWND window = viewWindow();
  HDC dc = GetDC(window);
  demo::PaletteHandle previous = greyPalette ? demo::selectPalette(dc, greyPalette) : nullptr;
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    const LxStatus status = LxCaptureShot(card.handle);
    if (status != LX_OK) demo::showStatusError(status);
    readBack(card, dc);
  }
  if (greyPalette) demo::selectPalette(dc, previous);
  ReleaseDC(window, dc);
  update();
  view_->update();
}

int32_t CMainFrame::frameCallback(SnapExInfo* info) {
  auto* card = static_cast<CardRecord*>(info->context);
  if (!card) return 1;
  const int height = (card->scanMode != 0 || card->interline == 0) ? card->output.height() / 2 : card->output.height();
  if (card->transformFrame(info->frameIndex, height) != LX_OK) return 1;
  const ViewTarget* target = card->viewTarget;
  if (!target || !target->view) return 1;
  HDC dc = GetDC(target->view);
  if (dc) {
    demo::drawImageScaled(dc, card->image, target->greyPalette, card->outputViewX, card->outputViewY, card->image.width(),
                          card->image.height());
    ReleaseDC(target->view, dc);
  }
  return 1;
}

void CMainFrame::snap() {
  if (state == 4) {
    for (int i = 0; i < cardCount; ++i) LxCloseSnapEx(cards[i].handle);
    state = 0;
    view_->update();
    return;
  }
  state = 4;
  uint32_t running = 0;
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    LxStatus status = LxOpenSnapEx(card.handle, &CMainFrame::frameCallback, &card);
    card.staticOffset = running;
    if (status == LX_OK) status = LxStartSnapEx(card.handle, running, card.interline, 2);
    if (status != LX_OK) {
      demo::showStatusError(status);
    } else {
      running += static_cast<uint32_t>(card.output.height()) *
                 static_cast<uint32_t>((demo::bitsPerPixel(card.videoFormat) + 7) / 8) *
                 static_cast<uint32_t>(card.output.width()) * 2u;
    }
    const std::lock_guard imageLock(card.image.mutex);
    card.image.header.info.biBitCount = demo::bitsPerPixel(card.videoFormat) == 8 ? 8 : 24;
  }
  imageCount = 0;
  view_->update();
}

void CMainFrame::snapShot() {
  uint32_t pages = 0;
  if (LxGetStaticMem(&pages) != LX_OK) return;
  const uint64_t bytes = static_cast<uint64_t>(pages) * 4096u;
  uint64_t sum = 0;
  for (int i = 0; i < cardCount; ++i) {
    cards[i].setImageToOutput();
    sum += cards[i].frameBytes();
  }
  if (sum != 0) {
    // The card takes a 16-bit frame count: a larger series would be cut short
    // while the program believed it whole.
    imageCount = static_cast<int>(std::min<uint64_t>(bytes / sum, 0xFFFF));
    uint32_t running = 0;
    for (int i = 0; i < cardCount; ++i) {
      CardRecord& card = cards[i];
      card.staticOffset = running;
      if (card.handle) LxSnapShot(card.handle, running, 0, 1, static_cast<uint16_t>(imageCount));
      running += card.frameBytes() * static_cast<uint32_t>(imageCount);
    }
    view_->update();
  }
  char text[96];
  std::snprintf(text, sizeof text, "Snap shot %d images totally to memory ", imageCount);
  demo::showNotice(text);
}

void CMainFrame::saveSerials() {
  std::string path;
  if (chooseSaveName_) {
    path = chooseSaveName_();
  } else {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("bmp");
    dialog.setNameFilter("Bitmap Files(*.bmp)");
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      path = dialog.selectedFiles().front().toStdString();
  }
  if (path.empty()) return;
  const std::string base = demo::trimBitmapSuffix(path);
  for (int c = 1; c <= cardCount; ++c) {
    CardRecord& card = cards[c - 1];
    for (int f = 1; f <= imageCount; ++f) {
      card.transformFrame(f - 1, card.storedHeight());
      char name[4096];
      std::snprintf(name, sizeof name, "%s%d%s%d%s", base.c_str(), c, "_", f, ".bmp");
      demo::saveBitmapFile(card.image, name);
      update();
    }
  }
}

namespace {
void playbackTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
  if (id != cmd::kPlaybackTimer) return;
  if (auto* frame = qobject_cast<CMainFrame*>(lxqt::widgetOf(window))) frame->OnPlaybackTimer();
}
}  // namespace

void CMainFrame::startPlaybackTimer() {
  timerRunning_ = SetTimer(lxqt::hwndOf(this), cmd::kPlaybackTimer, 100, playbackTimerProc) != 0;
}

void CMainFrame::stopPlaybackTimer() {
  if (!timerRunning_) return;
  KillTimer(lxqt::hwndOf(this), cmd::kPlaybackTimer);
  timerRunning_ = false;
}

void CMainFrame::step() {
  if (state == 5 && stepMode == 0) {
    stepMode = 1;
    playbackIndex = 0;
    stopPlaybackTimer();
    OnLeftButtonDown();
  } else if (state == 0) {
    stepMode = 1;
    playbackIndex = 0;
    state = 5;
    OnLeftButtonDown();
  }
}

void CMainFrame::circle() {
  if (state == 0 || (state == 5 && stepMode != 0)) {
    state = 5;
    stepMode = 0;
    playbackIndex = 0;
    startPlaybackTimer();
  }
}

void CMainFrame::stopPlayback() {
  playbackIndex = 0;
  imageCount = 0;
  state = 0;
  if (stepMode == 0) stopPlaybackTimer();
  view_->update();
}

void CMainFrame::OnLeftButtonDown() {
  if (state == 5 && stepMode != 0) showNextFrames();
}

void CMainFrame::OnPlaybackTimer() {
  if (state == 5 && stepMode == 0) showNextFrames();
}

void CMainFrame::showNextFrames() {
  HWND window = viewWindow();
  HDC dc = GetDC(window);
  for (int i = 0; i < cardCount; ++i) {
    CardRecord& card = cards[i];
    if (playbackIndex >= imageCount) playbackIndex = 0;
    card.transformFrame(playbackIndex, card.storedHeight());
    if (dc) drawTile(dc, card, greyPalette, 1.0);
  }
  if (dc) ReleaseDC(window, dc);
  playbackIndex += 1;
}

void CMainFrame::DrawTiles(HDC dc, double scale) {
  if (state != 0 && state != 5) return;
  for (int i = 0; i < cardCount; ++i) drawTile(dc, cards[i], greyPalette, scale);
}

}  // namespace lxmperf
