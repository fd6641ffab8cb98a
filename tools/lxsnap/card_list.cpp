#include "card_list.h"

#include <cstdio>
#include <string>

#include "card_session.h"
#include "lx/video.h"
#include "status_report.h"
#include "video_names.h"

namespace lxsnap {

namespace {

std::string slotText(LxCardHandle card) {
  LxSlotInfo slot{};
  if (const LxStatus status = LxGetSlotInfo(card, &slot); status != LX_OK) {
    return std::string("slot unknown (") + LxGetErrorString(status) + ")";
  }
  return "slot " + std::to_string(slot.slotNumber) + " (bus " + std::to_string(slot.busNumber) + ", device " +
         std::to_string(slot.deviceNumber) + ", function " + std::to_string(slot.functionNumber) + ")";
}

// The board reports success without writing when its controller stays
// silent, so the buffers start out zero and zero means "none".
std::string signatureText(LxCardHandle card) {
  uint8_t signature[2] = {};
  const LxStatus status = LxGetBoardInfo(card, LX_BOARD_INFO_SIGNATURE, signature);
  const auto printable = [](uint8_t c) { return c > 32 && c < 127; };
  if (status != LX_OK || !printable(signature[0]) || !printable(signature[1])) {
    return "signature none";
  }
  return std::string("signature ") + static_cast<char>(signature[0]) + static_cast<char>(signature[1]);
}

std::string revisionText(LxCardHandle card) {
  uint8_t low = 0xFF;
  uint8_t high = 0xFF;
  if (LxGetBoardInfo(card, LX_BOARD_INFO_REVISION_LOW, &low) != LX_OK || LxGetBoardInfo(card, LX_BOARD_INFO_REVISION_HIGH, &high) != LX_OK ||
      low > 0x0F || high > 0x0F) {
    return "revision unknown";
  }
  return "revision " + std::to_string(high) + "." + std::to_string(low);
}

// Selects each input in turn and asks for a signal; the numbers of a kind end
// where the API refuses one. Inputs the card library refuses are left out.
void listInputs(LxCardHandle card) {
  for (int32_t kind = 0; kind < kInputKinds; ++kind) {
    for (int32_t number = 0; number < kMostInputsPerKind; ++number) {
      const LxVideoSource source{kind, number};
      const LxStatus selected = LxSetVideoSource(card, source);
      if (selected == LX_PARAMETER_INVALID) {
        break;
      }
      if (selected != LX_OK) {
        continue;
      }
      int32_t present = 0;
      const LxStatus asked = LxVideoPresent(card, &present);
      std::printf("  %-12s %s\n", inputName(source).c_str(),
                  asked != LX_OK ? LxGetErrorString(asked) : present ? "signal" : "no signal");
    }
  }
}

}  // namespace

int runList() {
  int32_t total = 0;
  if (const LxStatus status = LxGetCardTotal(&total); status != LX_OK) {
    return reportFailure("counting the cards", status);
  }
  if (total == 0) {
    return reportNoCard();
  }
  std::printf("%d card%s\n", total, total == 1 ? "" : "s");
  int result = 0;
  for (int32_t index = 1; index <= total; ++index) {
    CardSession session;
    if (!session.open(index)) {
      result = kFailureExit;
      continue;
    }
    const LxCardHandle card = session.handle();
    int32_t type = -1;
    LxGetCardType(card, &type);
    std::printf("card %d: %s, %s, %s, %s\n", index, cardTypeName(type).c_str(), slotText(card).c_str(),
                signatureText(card).c_str(), revisionText(card).c_str());
    listInputs(card);
  }
  return result;
}

}  // namespace lxsnap
