// Bitmap files, Snap Shot, frame series and their playback.
#include <windows.h>

#include <QFileDialog>

#include "command_ids.h"
#include "democommon/bitmap_file.h"
#include "democommon/geometry.h"
#include "democommon/message_box.h"
#include "lxqt/bridge.h"
#include "main_frame.h"

namespace lxperf {

namespace {

void playbackTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
  if (!IsWindow(window)) return;  // the last call after the window went
  if (auto* frame = qobject_cast<CMainFrame*>(lxqt::widgetOf(window))) frame->OnTimer(id);
}

}  // namespace

std::string CMainFrame::chooseFile(bool save) {
  if (chooseFile_) return chooseFile_(save);
  const QString filter = "Bitmap Files(*.bmp)";
  QFileDialog dialog(this);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix("bmp");
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);  // prompts before overwriting by default
  if (execDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

void CMainFrame::OnFileOpen() {
  const std::string path = chooseFile(false);
  if (path.empty()) return;
  demo::loadBitmapFile(video_->image, path);
  InvalidateFrame();
}

void CMainFrame::OnFileSaveAs() {
  const std::string path = chooseFile(true);
  if (path.empty()) return;
  demo::saveBitmapFile(video_->image, path);
}

void CMainFrame::OnSnapShot() {
  demo::CVideo& v = *video_;
  uint32_t pages = 0;
  if (LxGetStaticMem(&pages) != LX_OK) return;
  const uint64_t total = static_cast<uint64_t>(pages) * 4096;
  // An offset beyond the static memory leaves nothing, not a wrapped-round size.
  const uint64_t available = total > snapOffset ? total - snapOffset : 0;
  const uint32_t frame = v.FrameBytes();
  if (frame == 0) return;
  const uint64_t count64 = std::min<uint64_t>(available / frame, 0xFFFF);  // the snap call counts in 16 bits
  const int count = static_cast<int>(count64);
  v.FillStaticMem(snapOffset, frame * static_cast<uint32_t>(count), 0xFF);
  const LxStatus status = v.SnapShot(snapOffset, interline, count);
  if (status != LX_OK) {
    demo::showStatusError(status);
    return;
  }
  imageCount = count;
  demo::showNotice(QString::asprintf("Snap shot %d images totally to memory ", count).toStdString());
}

void CMainFrame::OnSaveSerials() {
  const std::string path = chooseFile(true);
  if (path.empty()) return;
  const std::string base = demo::trimBitmapSuffix(path);
  for (int i = 0; i < imageCount; ++i) {
    video_->TransformFrame(snapOffset, i);
    demo::saveBitmapFile(video_->image, demo::seriesFileName(base, i + 1));
    InvalidateFrame();
  }
}

void CMainFrame::OnOpenSerials() {
  const std::string path = chooseFile(false);
  if (path.empty()) return;
  seriesBaseName = demo::seriesBaseOf(path);
  fromFiles = 1;
  OnStep();
}

void CMainFrame::ShowNextFrame() {
  demo::CVideo& v = *video_;
  if (fromFiles) {
    // Past the last file the series starts again at file 1 in the same
    // step, so the wrap shows file 1 rather than the last image twice.
    bool loaded = demo::loadBitmapFile(v.image, demo::seriesFileName(seriesBaseName, playbackIndex + 1));
    if (!loaded && playbackIndex > 0) {
      playbackIndex = 0;
      loaded = demo::loadBitmapFile(v.image, demo::seriesFileName(seriesBaseName, 1));
    }
    playbackIndex = loaded ? playbackIndex + 1 : 0;
  } else {
    if (playbackIndex >= imageCount) playbackIndex = 0;
    v.TransformFrame(snapOffset, playbackIndex);
    ++playbackIndex;
  }
  DrawImageNow();
  view_->client()->update();
}

void CMainFrame::startPlaybackTimer() {
  SetTimer(lxqt::hwndOf(this), kPlaybackTimerId, kPlaybackPeriodMs, playbackTimerProc);
}

void CMainFrame::stopPlaybackTimer() { KillTimer(lxqt::hwndOf(this), kPlaybackTimerId); }

void CMainFrame::OnTimer(uintptr_t id) {
  if (id == kPlaybackTimerId) ShowNextFrame();
}

void CMainFrame::OnStep() {
  if (playbackActive && stepMode) return;
  if (playbackActive) {
    stepMode = 1;
    playbackIndex = 0;
    stopPlaybackTimer();
  } else {
    video_->image.fillWhite();
    InvalidateFrame();
    stepMode = 1;
    playbackActive = 1;
    playbackIndex = 0;
  }
  OnLeftButtonDown();  // shows a frame, as a click in the view does
}

void CMainFrame::OnCircle() {
  if (playbackActive && !stepMode) return;
  if (!playbackActive) {
    video_->image.fillWhite();
    InvalidateFrame();
    playbackActive = 1;
  }
  stepMode = 0;
  playbackIndex = 0;
  startPlaybackTimer();
}

void CMainFrame::OnStop() {
  playbackIndex = 0;
  imageCount = 0;
  playbackActive = 0;
  if (!stepMode) stopPlaybackTimer();
  fromFiles = 0;
}

}  // namespace lxperf
