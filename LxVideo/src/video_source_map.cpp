#include "card_type_rules.h"
#include "lx/card_type.h"
#include "lx/video_types.h"

namespace lxvideo {

namespace {

// Input codes of the numbers 0, 1, ... of one kind; a count of 0 refuses the kind.
struct KindCodes {
  uint8_t count;
  uint8_t codes[6];
};

struct TypeSources {
  KindCodes composite;
  KindCodes sVideo;
  KindCodes yCbCr;
};

constexpr TypeSources kHeronAndTern{{4, {0, 1, 2, 4}}, {1, {3}}, {0, {}}};
constexpr TypeSources kEgret{{6, {0, 1, 2, 3, 4, 5}}, {3, {6, 7, 8}}, {1, {9}}};
constexpr TypeSources kStork{{6, {0, 1, 2, 3, 4, 5}}, {2, {6, 7}}, {2, {8, 9}}};
constexpr TypeSources kCrane{{2, {0, 1}}, {1, {2}}, {0, {}}};

const TypeSources* sourcesOf(int32_t cardTypeIndex) {
  switch (cardTypeIndex) {
    case LX_CARD_TYPE_HERON:
    case LX_CARD_TYPE_TERNCARD: return &kHeronAndTern;
    case LX_CARD_TYPE_EGRET: return &kEgret;
    case LX_CARD_TYPE_STORK: return &kStork;
    case LX_CARD_TYPE_CRANE: return &kCrane;
    default: return nullptr;
  }
}

}  // namespace

bool videoSourceCode(int32_t cardTypeIndex, LxVideoSource source, uint8_t* code) {
  const TypeSources* sources = sourcesOf(cardTypeIndex);
  if (sources == nullptr) {
    return false;
  }
  const KindCodes* kind = nullptr;
  switch (source.kind) {
    case LX_VIDEO_SOURCE_COMPOSITE: kind = &sources->composite; break;
    case LX_VIDEO_SOURCE_SVIDEO: kind = &sources->sVideo; break;
    case LX_VIDEO_SOURCE_YCBCR: kind = &sources->yCbCr; break;
    default: return false;
  }
  if (source.number < 0 || source.number >= kind->count) {
    return false;
  }
  *code = kind->codes[source.number];
  return true;
}

}  // namespace lxvideo
