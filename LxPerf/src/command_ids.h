// Command ids of LxPerf's menus and accelerators (resource 128).
#pragma once

namespace lxperf {

enum CommandId : int {
  kFileOpen = 32808,
  kFileSaveAs = 32809,
  kFilePrint = 57607,
  kFilePrintPreview = 57609,
  kFilePrintSetup = 57606,
  kAppExit = 57665,
  kCapture = 32821,
  kCaptureShot = 32786,
  kSnap = 32822,
  kSnapShot = 32787,
  kOpenSerials = 32811,
  kSaveSerials = 32812,
  kStep = 32803,
  kCircle = 32804,
  kStop = 32805,
  kClip = 32798,
  kScale = 32799,
  kMask = 32795,
  kYuv422 = 32776,
  kRgb555 = 32777,
  kRgb565 = 32778,
  kRgb888 = 32779,
  kRgb8888 = 32780,
  kAll8Bit = 32781,
  kLimited8Bit = 32782,
  kPal = 32790,
  kNtsc = 32791,
  kFrame = 32793,
  kField = 32794,
  kField1 = 32828,
  kVideoSource = 32801,
  kAdjust = 32800,
  kDelay = 32825,
  kAllocateMemory = 32802,
  kInterline = 32823,
  kCry35M = 32814,
  kCry28M = 32815,
  kMirrorHorizontal = 32817,
  kMirrorVertical = 32818,
  kChromaTrap = 32819,
  kUpdateWebsite = 32826,
  kContact = 32827,
  kAppAbout = 57664,
  // The framework's standard commands behind the accelerator table.
  kFileNew = 57600,
  kFileOpenDocument = 57601,
  kFileSaveDocument = 57603,
  kEditCopy = 57634,
  kEditPaste = 57637,
  kEditCut = 57635,
  kEditUndo = 57643,
  kNextPane = 57680,
  kPreviousPane = 57681,
};

// The playback timer of the main frame.
inline constexpr unsigned kPlaybackTimerId = 97010333;
inline constexpr unsigned kPlaybackPeriodMs = 100;

}  // namespace lxperf
