#include "command_rules.h"

#include "command_ids.h"

namespace lxmperf {

int formatOfCommand(int id) {
  switch (id) {
    case cmd::kYuv422: return 0;
    case cmd::kRgb888: return 1;
    case cmd::kRgb565: return 2;
    case cmd::kRgb555: return 3;
    case cmd::kRgb8888: return 4;
    case cmd::kAll8Bit: return 5;
    case cmd::kLimited8Bit: return 6;
    default: return -1;
  }
}

CommandRule commandRule(int id, const CommandInputs& in) {
  const bool liveAllowed = in.osCode != 7 && in.osCode != 8;
  const bool idle = in.state == 0;
  if (const int format = formatOfCommand(id); format >= 0) return {idle, in.haveCard && in.videoFormat == format};
  switch (id) {
    case cmd::kCapture: return {liveAllowed && (in.state == 0 || in.state == 2), in.state == 2};
    case cmd::kCaptureShot: return {liveAllowed && idle, false};
    case cmd::kSnap: return {in.state == 0 || in.state == 4, in.state == 4};
    case cmd::kSnapShot: return {idle, false};
    case cmd::kSaveSerials: return {in.imageCount >= 1, false};
    case cmd::kStep: return {in.imageCount > 0, in.state == 5 && in.stepMode != 0};
    case cmd::kCircle: return {in.imageCount > 0, in.state == 5 && in.stepMode == 0};
    case cmd::kStop: return {in.state == 5, false};
    case cmd::kClip: return {true, in.clip == 1};
    case cmd::kScale: return {true, in.clip == 0};
    case cmd::kMask: return {idle, in.maskEnabled != 0};
    case cmd::kPal: return {idle, in.haveCard && in.videoStandard == 0};
    case cmd::kNtsc: return {idle, in.haveCard && in.videoStandard == 1};
    case cmd::kFrame: return {idle, in.haveCard && in.scanMode == 0};
    case cmd::kField: return {idle, in.haveCard && in.scanMode == 1};
    case cmd::kField1: return {idle, in.haveCard && in.scanMode == 2};
    case cmd::kInterline: return {idle && in.haveCard && in.scanMode == 0, in.haveCard && in.interline != 0};
    case cmd::kOsc35M: return {true, in.haveCard && in.cryOsc == 0};
    case cmd::kOsc28M: return {true, in.haveCard && in.cryOsc == 1};
    case cmd::kHorizon: return {true, in.haveCard && in.mirrorHorizontal != 0};
    case cmd::kVertical: return {true, in.haveCard && in.mirrorVertical != 0};
    case cmd::kChroma: return {true, in.haveCard && in.lumaControl != 0};
    default: return {};
  }
}

}  // namespace lxmperf
