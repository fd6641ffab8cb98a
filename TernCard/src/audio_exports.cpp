// The audio part: its reset bit and the range on general-purpose lines 2 and 3.
#include "card_handle.h"
#include "lx/terncard_command.h"
#include "register_access.h"
#include "register_map.h"
#include "video_programming.h"

using namespace terncard;

namespace {
constexpr uint32_t kAudioResetPulse = 0x80;
}  // namespace

LX_EXPORT int32_t TernCardResetAudio(uint64_t handle) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  for (int pulse = 0; pulse < 2; ++pulse) {
    writeRegister(context.get(), REG_AUDIO_RESET, kAudioResetPulse);
    writeRegister(context.get(), REG_AUDIO_RESET, 0);
  }
  return 1;
}

LX_EXPORT int32_t TernCardSetAudioRange(uint64_t handle, uint8_t range) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->audioRange = range;
  applyAudioRange(context.get());
  return 1;
}
