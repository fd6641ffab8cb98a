// The names lxsnap gives the API's enumerations on its command line and in
// its output: inputs ("composite1"), pixel formats ("rgb565"), standards,
// scan modes and card types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lx/video_card.h"

namespace lxsnap {

// "composite1".."composite8", "svideo1".., "ycbcr1"..: kind and 0-based
// number within the kind, as LxSetVideoSource takes them.
std::optional<LxVideoSource> parseInput(const std::string& name);
std::string inputName(LxVideoSource source);
// Every input name a card type may offer, in probing order: the numbers of
// each kind run from 1 until the API refuses one.
inline constexpr int32_t kMostInputsPerKind = 8;
inline constexpr int32_t kInputKinds = 3;

struct NamedValue {
  const char* name;
  int32_t value;
};

// --format: rgb888 ... grey-limited, as LxVideoFormat values.
const std::vector<NamedValue>& formatNames();
// --std: pal, ntsc.
const std::vector<NamedValue>& standardNames();
// --scan: frame, field, field1.
const std::vector<NamedValue>& scanNames();
std::string nameOf(const std::vector<NamedValue>& names, int32_t value);

// "TernCard", or "type N" for a row the table does not know.
std::string cardTypeName(int32_t cardTypeIndex);

}  // namespace lxsnap
