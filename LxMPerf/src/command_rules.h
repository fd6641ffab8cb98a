// When each command of the multi-card program is enabled and checked: a
// pure function of the frame's state and of the card the commands show.
#pragma once

namespace lxmperf {

// The values a rule looks at. The card values are those of the selected
// card, or of card 0 when all cards are selected.
struct CommandInputs {
  int osCode = -1;
  int state = 0;  // 0 idle, 2 live capture, 4 snap-ex, 5 playback
  int imageCount = 0;
  int stepMode = 1;
  int clip = 1;
  int maskEnabled = 0;
  bool haveCard = false;  // no card: the card values below mean nothing
  int videoFormat = 0, videoStandard = 0, scanMode = 0, interline = 1, cryOsc = 0;
  int mirrorHorizontal = 0, mirrorVertical = 0, lumaControl = 1;
};

struct CommandRule {
  bool enabled = true;
  bool checked = false;
};

// Commands without a rule: enabled, not checked.
CommandRule commandRule(int id, const CommandInputs& in);

// The video format a format command sets, -1 for other ids.
int formatOfCommand(int id);

}  // namespace lxmperf
