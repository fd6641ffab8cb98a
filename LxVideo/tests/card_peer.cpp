// A second process for the card tests. Commands, one output line each:
//   count N    counter N-1 of "OpenCountMap" ("none" without the map)
//   format N   opens card N and prints the context's pixel format and bits
//              per pixel, then ends it ("error S" with the status otherwise)
//   command N  opens card N and prints the open count LxCommand 16 answers
//              while the peer holds it, then ends it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lx/internal/card_record.h"
#include "lx/internal/tern_card_context.h"
#include "lx/video_card.h"

namespace {

void printCount(int card) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "OpenCountMap");
  const auto* counters =
      mapping != nullptr ? static_cast<const uint32_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 1024))
                         : nullptr;
  if (counters == nullptr) {
    std::printf("none\n");
  } else {
    std::printf("%u\n", counters[card - 1]);
    UnmapViewOfFile(counters);
  }
  if (mapping != nullptr) {
    CloseHandle(mapping);
  }
}

void printFormat(int card) {
  LxCardHandle handle = nullptr;
  const LxStatus status = BeginLxCard(card, &handle);
  if (status != LX_OK) {
    std::printf("error %d\n", status);
    return;
  }
  auto* record = static_cast<LxCardRecord*>(GlobalLock(handle));
  HGLOBAL block = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(record->context));
  const auto* context = static_cast<const TernCardContext*>(GlobalLock(block));
  std::printf("%d %d\n", context->pixelFormat, context->bitsPerPixel);
  GlobalUnlock(block);
  GlobalUnlock(handle);
  EndLxCard(handle);
}

void printCommandCount(int card) {
  LxCardHandle handle = nullptr;
  LxStatus status = BeginLxCard(card, &handle);
  int32_t count = -1;
  int32_t size = 4;
  if (status == LX_OK) {
    status = LxCommand(handle, 16, &count, &size);
    EndLxCard(handle);
  }
  if (status != LX_OK) {
    std::printf("error %d\n", status);
  } else {
    std::printf("%d\n", count);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int k = 1; k + 1 < argc; k += 2) {
    const int card = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "count") == 0) {
      printCount(card);
    } else if (std::strcmp(argv[k], "format") == 0) {
      printFormat(card);
    } else if (std::strcmp(argv[k], "command") == 0) {
      printCommandCount(card);
    } else {
      std::printf("unknown %s\n", argv[k]);
    }
    std::fflush(stdout);
  }
  return 0;
}
