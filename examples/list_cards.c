/* Lists the installed cards: type, PCI slot, board signature and revision. */
#include <stdio.h>

#include <lx/video.h>

static const char* cardTypeName(int32_t type) {
  switch (type) {
    case LX_CARD_TYPE_HERON: return "Heron";
    case LX_CARD_TYPE_EGRET: return "Egret";
    case LX_CARD_TYPE_STORK: return "Stork";
    case LX_CARD_TYPE_CRANE: return "Crane";
    case LX_CARD_TYPE_TERNCARD: return "TernCard";
    default: return "unknown";
  }
}

static void describeCard(int index) {
  LxCardHandle card = NULL;
  LxStatus status = BeginLxCard(index, &card);
  if (status != LX_OK) {
    printf("card %d: cannot open (%s)\n", index, LxGetErrorString(status));
    return;
  }
  int32_t type = -1;
  LxGetCardType(card, &type);
  printf("card %d: %s", index, cardTypeName(type));

  LxSlotInfo slot = {0, 0, 0, 0};
  if (LxGetSlotInfo(card, &slot) == LX_OK) {
    printf(", slot %u (bus %u, device %u, function %u)", (unsigned)slot.slotNumber, (unsigned)slot.busNumber,
           (unsigned)slot.deviceNumber, (unsigned)slot.functionNumber);
  }
  /* The signature is two raw bytes, without a NUL: the third byte is ours. */
  char signature[3] = {0, 0, 0};
  if (LxGetBoardInfo(card, LX_BOARD_INFO_SIGNATURE, signature) == LX_OK && signature[0] != 0) {
    printf(", signature %s", signature);
  }
  uint8_t high = 0xFF, low = 0xFF;
  if (LxGetBoardInfo(card, LX_BOARD_INFO_REVISION_HIGH, &high) == LX_OK &&
      LxGetBoardInfo(card, LX_BOARD_INFO_REVISION_LOW, &low) == LX_OK && high <= 15 && low <= 15) {
    printf(", revision %u.%u", (unsigned)high, (unsigned)low);
  }
  printf("\n");
  status = EndLxCard(card);
  if (status != LX_OK) {
    printf("card %d: cannot end (%s)\n", index, LxGetErrorString(status));
  }
}

int main(void) {
  int32_t total = 0;
  LxStatus status = LxGetCardTotal(&total);
  if (status != LX_OK) {
    fprintf(stderr, "list_cards: %s\n", LxGetErrorString(status));
    return 1;
  }
  printf("%d card%s\n", (int)total, total == 1 ? "" : "s");
  for (int index = 1; index <= total; ++index) {
    describeCard(index);
  }
  return 0;
}
