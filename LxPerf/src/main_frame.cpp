#include "main_frame.h"

#include <windows.h>

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>

#include "command_ids.h"
#include "democommon/about_dialog.h"
#include "democommon/message_box.h"
#include "democommon/video_formats.h"
#include "lxqt/bridge.h"

namespace lxperf {

namespace {

// Value of each format, standard, scan, crystal and mirror command.
int formatOf(int id) {
  switch (id) {
    case kYuv422: return 0;
    case kRgb555: return 3;
    case kRgb565: return 2;
    case kRgb888: return 1;
    case kRgb8888: return 4;
    case kAll8Bit: return 5;
    case kLimited8Bit: return 6;
    default: return -1;
  }
}

int scanOf(int id) { return id == kFrame ? 0 : id == kField ? 1 : id == kField1 ? 2 : -1; }

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : CVideoWnd(parent) {
  setWindowTitle("LxPerf");
  buildMenus();
  view_->setHooks(CLxPerfView::Hooks{
      [this] { OnLeftButtonDown(); },
      [this] { OnDraw(); },
      [this](bool horizontal, demo::ScrollCode code, int track) { ScrollView(horizontal, code, track); },
  });
}

CMainFrame::~CMainFrame() {
  stopPlaybackTimer();
  video_->Close();
  SaveSettings();
}

void CMainFrame::buildMenus() {
  menus_ = new demo::CommandMenus(
      menuBar(), [this](int id) { OnCommand(id); },
      [this](int id, demo::CommandState& state) { state = CommandStateOf(id); });
  demo::CommandMenus& m = *menus_;
  QMenu* file = m.menu("&File");
  m.item(file, "&Open...\tCtrl+O", kFileOpen);
  m.item(file, "&Save As ...\tCtrl+S", kFileSaveAs);
  file->addSeparator();
  m.item(file, "&Print...\tCtrl+P", kFilePrint);
  m.item(file, "Print Pre&view", kFilePrintPreview);
  m.item(file, "P&rint Setup...", kFilePrintSetup);
  file->addSeparator();
  m.item(file, "E&xit", kAppExit);

  QMenu* view = m.menu("&View");
  m.item(view, "Capture\tCtrl+1", kCapture);
  view->addSeparator();
  m.item(view, "Capture Shot\tCtrl+2", kCaptureShot);
  view->addSeparator();
  m.item(view, "Snap\tCtrl+3", kSnap);
  view->addSeparator();
  m.item(view, "Snap Shot\tCtrl+4", kSnapShot);
  m.item(view, "Open Serials...", kOpenSerials);
  m.item(view, "Save Serials...", kSaveSerials);
  QMenu* playback = m.submenu(view, "Playback");
  m.item(playback, "Step", kStep);
  m.item(playback, "Circle", kCircle);
  m.item(playback, "Stop", kStop);
  view->addSeparator();
  QMenu* display = m.submenu(view, "Display");
  m.item(display, "Clip", kClip);
  m.item(display, "Scale", kScale);
  view->addSeparator();
  m.item(view, "Mask", kMask);

  QMenu* parameter = m.menu("&Paramter");
  QMenu* format = m.submenu(parameter, "Video Format");
  m.item(format, "YUV422", kYuv422);
  m.item(format, "RGB555", kRgb555);
  m.item(format, "RGB565", kRgb565);
  m.item(format, "RGB888", kRgb888);
  m.item(format, "RGB8888", kRgb8888);
  format->addSeparator();
  m.item(format, "All 8 bit", kAll8Bit);
  m.item(format, "Limmited 8 bit", kLimited8Bit);
  QMenu* standard = m.submenu(parameter, "Video Standard");
  m.item(standard, "PAL", kPal);
  m.item(standard, "NTSC", kNtsc);
  QMenu* scan = m.submenu(parameter, "Scan Mode");
  m.item(scan, "Frame", kFrame);
  m.item(scan, "Field", kField);
  m.item(scan, "Field1", kField1);
  m.item(parameter, "Video Source...", kVideoSource);
  m.item(parameter, "Adjust...", kAdjust);
  m.item(parameter, "Delay...", kDelay);
  m.item(parameter, "Allocate Memory...", kAllocateMemory);
  parameter->addSeparator();
  m.item(parameter, "Interline", kInterline);
  parameter->addSeparator();
  QMenu* crystal = m.submenu(parameter, "CryOSC Type");
  m.item(crystal, "35M", kCry35M);
  m.item(crystal, "28M", kCry28M);
  QMenu* mirror = m.submenu(parameter, "Mirror Direction");
  m.item(mirror, "Horizon", kMirrorHorizontal);
  m.item(mirror, "vertical", kMirrorVertical);
  m.item(parameter, "Chroma Trap in the Luma", kChromaTrap);

  QMenu* help = m.menu("&Help");
  m.item(help, "Go to Update Website...", kUpdateWebsite);
  m.item(help, demo::kContactMenuText, kContact);
  help->addSeparator();
  m.item(help, "&About LxPerf...", kAppAbout);

  // Accelerator table: the program's four keys and the framework's standard ones.
  m.accelerator(this, "Ctrl+1", kCapture);
  m.accelerator(this, "Ctrl+2", kCaptureShot);
  m.accelerator(this, "Ctrl+3", kSnap);
  m.accelerator(this, "Ctrl+4", kSnapShot);
  m.accelerator(this, "Ctrl+N", kFileNew);
  m.accelerator(this, "Ctrl+O", kFileOpenDocument);
  m.accelerator(this, "Ctrl+S", kFileSaveDocument);
  m.accelerator(this, "Ctrl+P", kFilePrint);
  m.accelerator(this, "Ctrl+C", kEditCopy);
  m.accelerator(this, "Ctrl+Ins", kEditCopy);
  m.accelerator(this, "Ctrl+V", kEditPaste);
  m.accelerator(this, "Shift+Ins", kEditPaste);
  m.accelerator(this, "Ctrl+X", kEditCut);
  m.accelerator(this, "Shift+Del", kEditCut);
  m.accelerator(this, "Ctrl+Z", kEditUndo);
  m.accelerator(this, "Alt+Backspace", kEditUndo);
  m.accelerator(this, "F6", kNextPane);
  m.accelerator(this, "Shift+F6", kPreviousPane);
}

bool CMainFrame::cardType(int* type) const {
  if (cardType_) return cardType_(type);
  int32_t value = -1;
  if (LxGetCardType(video_->handle(), &value) != LX_OK) return false;
  *type = value;
  return true;
}

demo::CommandState CMainFrame::CommandStateOf(int id) const {
  const demo::CVideo& v = *video_;
  const bool idle = v.videoState == 0;
  const bool noPlayback = playbackActive == 0;
  const int osCode = os_.GetOsCode();
  const bool liveCaptureOs = osCode != 7 && osCode != 8;
  int type = -1;
  const bool typeKnown = cardType(&type);
  demo::CommandState s;
  switch (id) {
    case kCapture:
      s.enabled = liveCaptureOs && (v.videoState == 0 || v.videoState == 2) && noPlayback;
      s.checked = v.videoState == 2;
      break;
    case kCaptureShot: s.enabled = liveCaptureOs && idle && noPlayback; break;
    case kSnap:
      s.enabled = (v.videoState == 0 || v.videoState == 4) && noPlayback;
      s.checked = v.videoState == 4;
      break;
    case kSnapShot:
    case kOpenSerials: s.enabled = idle && noPlayback; break;
    case kSaveSerials: s.enabled = imageCount >= 1 && noPlayback; break;
    case kStep:
      s.enabled = imageCount > 0 || fromFiles;
      s.checked = stepMode && playbackActive;
      break;
    case kCircle:
      s.enabled = imageCount > 0 || fromFiles;
      s.checked = !stepMode && playbackActive;
      break;
    case kStop: s.enabled = playbackActive != 0; break;
    case kClip: s.checked = clip == 1; break;
    case kScale: s.checked = clip == 0; break;
    case kMask:
      s.enabled = idle;
      s.checked = v.maskEnabled != 0;
      break;
    case kYuv422:
    case kRgb555:
    case kRgb565:
    case kRgb888:
    case kRgb8888:
    case kAll8Bit:
    case kLimited8Bit:
      s.enabled = idle;
      s.checked = v.videoFormat == formatOf(id);
      break;
    case kPal:
    case kNtsc:
      s.enabled = idle;
      s.checked = v.videoStandard == (id == kPal ? 0 : 1);
      break;
    case kFrame:
    case kField:
    case kField1:
      s.enabled = idle;
      s.checked = v.scanMode == scanOf(id);
      break;
    case kInterline:
      s.enabled = idle && v.scanMode == 0;
      s.checked = interline == 1;
      break;
    case kCry35M:
    case kCry28M:
      s.enabled = typeKnown && type == 0;
      s.checked = v.cryOsc == (id == kCry35M ? 0 : 1);
      break;
    case kMirrorHorizontal:
      s.enabled = typeKnown && (type == 1 || type == 2);
      s.checked = v.mirrorHorizontal != 0;
      break;
    case kMirrorVertical:
      s.enabled = typeKnown && (type == 1 || type == 2);
      s.checked = v.mirrorVertical != 0;
      break;
    case kChromaTrap:
      s.enabled = typeKnown && (type == 1 || type == 2);
      s.checked = v.lumaControl != 0;
      break;
    default: break;
  }
  return s;
}

void CMainFrame::OnCommand(int id) {
  demo::CVideo& v = *video_;
  if (const int format = formatOf(id); format >= 0) {
    v.SetFormat(format);
    return;
  }
  if (const int mode = scanOf(id); mode >= 0) {
    OnScanMode(mode);
    return;
  }
  switch (id) {
    case kFileOpen: OnFileOpen(); break;
    case kFileSaveAs: OnFileSaveAs(); break;
    case kFilePrint: OnPrint(false); break;
    case kFilePrintPreview: OnPrint(true); break;
    case kFilePrintSetup: OnPrint(false); break;
    case kAppExit: close(); break;
    case kCapture: ToggleCapture(); break;
    case kCaptureShot: CaptureShot(); break;
    case kSnap: ToggleSnap(); break;
    case kSnapShot: OnSnapShot(); break;
    case kOpenSerials: OnOpenSerials(); break;
    case kSaveSerials: OnSaveSerials(); break;
    case kStep: OnStep(); break;
    case kCircle: OnCircle(); break;
    case kStop: OnStop(); break;
    case kClip:
    case kScale:
      clip = id == kClip ? 1 : 0;
      view_->horizontalBar()->setVisible(clip == 1);
      view_->verticalBar()->setVisible(clip == 1);
      MeasureBorders();
      PlaceVideo();
      break;
    case kMask: OnMask(); break;
    case kPal:
    case kNtsc:
      if (v.SetStandard(id == kPal ? 0 : 1) == LX_OK) PlaceVideo();
      break;
    case kVideoSource: OnVideoSourceDialog(); break;
    case kAdjust: OnAdjustDialog(); break;
    case kDelay: OnDelayDialog(); break;
    case kAllocateMemory: OnAllocateDialog(); break;
    case kInterline: interline = interline ? 0 : 1; break;
    case kCry35M: v.SetCryOsc(0); break;
    case kCry28M: v.SetCryOsc(1); break;
    case kMirrorHorizontal: v.SetMirror(0, v.mirrorHorizontal ? 0 : 1); break;
    case kMirrorVertical: v.SetMirror(1, v.mirrorVertical ? 0 : 1); break;
    case kChromaTrap:
      if (const LxStatus status = v.SetLuma(v.lumaControl ? 0 : 1); status != LX_OK) demo::showStatusError(status);
      break;
    case kUpdateWebsite: OnHelpLink(true); break;
    case kContact: OnHelpLink(false); break;
    case kAppAbout: {
      demo::AboutDialog about("LxPerf", this);
      execDialog(about);
      break;
    }
    default: break;  // the framework's document, edit and pane commands: no handler here
  }
}

void CMainFrame::OnMask() {
  demo::CVideo& v = *video_;
  if (!v.maskEnabled) {
    const int width = demo::frameWidthOf(v.videoStandard);
    const int height = demo::maxVideoHeight(v.videoStandard, v.scanMode);
    v.SetMaskRect(0, 0, width, height, 0);
    v.SetMaskRect(50, 50, 50, 50, 1);
    v.SetMaskRect(100, 150, 100, 1, 1);
  }
  v.SetMask(v.maskEnabled ? 0 : 1);
}

void CMainFrame::OnScanMode(int mode) {
  if (video_->SetScanMode(mode) != LX_OK) return;
  if (video_->maskEnabled) {
    OnMask();
    OnMask();
  }
  PlaceVideo();
}

void CMainFrame::OnLeftButtonDown() {
  if (stepMode && playbackActive) ShowNextFrame();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!playbackActive) {
    if (video_->videoState == 2) OnCommand(kCapture);
    if (video_->videoState == 4) OnCommand(kSnap);
  } else if (!stepMode) {
    stopPlaybackTimer();
  }
  closed_ = true;
  CVideoWnd::closeEvent(event);
}

}  // namespace lxperf
