// Command ids of the multi-card program's menus: those it shares with the
// single-card program, and its own (Select card, Field1, the help items).
#pragma once

namespace lxmperf::cmd {

inline constexpr int kPrint = 57607, kPrintPreview = 57609, kPrintSetup = 57606, kExit = 57665;
inline constexpr int kCapture = 32821, kCaptureShot = 32786, kSnap = 32822, kSnapShot = 32787;
inline constexpr int kSaveSerials = 32812;
inline constexpr int kStep = 32803, kCircle = 32804, kStop = 32805;
inline constexpr int kClip = 32798, kScale = 32799, kMask = 32795;
inline constexpr int kYuv422 = 32776, kRgb555 = 32777, kRgb565 = 32778, kRgb888 = 32779, kRgb8888 = 32780;
inline constexpr int kAll8Bit = 32781, kLimited8Bit = 32782;
inline constexpr int kPal = 32790, kNtsc = 32791;
inline constexpr int kFrame = 32793, kField = 32794, kField1 = 32830;
inline constexpr int kSelectCard = 32827;
inline constexpr int kVideoSource = 32801, kAdjust = 32800, kAllocateMemory = 32802, kInterline = 32823;
inline constexpr int kOsc35M = 32814, kOsc28M = 32815;
inline constexpr int kHorizon = 32817, kVertical = 32818, kChroma = 32819;
inline constexpr int kWebPage = 32828, kContact = 32829, kAbout = 57664;

// The playback timer.
inline constexpr unsigned kPlaybackTimer = 97010333;

// Messages from the dialogs to the main frame.
inline constexpr unsigned kMsgSetSource = 1124;  // kind, number
inline constexpr unsigned kMsgAdjust = 1125;     // item 1..4, value
inline constexpr unsigned kMsgSetPll = 1126;     // value, 0

}  // namespace lxmperf::cmd
