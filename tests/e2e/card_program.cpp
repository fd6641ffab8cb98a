// A user's program for the whole-stack fault tests. It opens card 1, starts
// one activity and prints "ready" once the card is seen doing it. Then it
// waits (at most a minute) for a line on standard input, calls the API once
// more, prints one "probe ..." line with the statuses it got, ends its
// handles, prints "ended ..." and exits 0. Activities (first argument):
//   capture  live capture onto the screen
//   ring     a continuous snap (LxStartSnap) of a ring of four frames
//   series   a counted series (LxSnapShot) of 100 frames, 50 fields apart:
//            "ready" comes before the call, which runs for seconds
//   snapex   snap-ex over a ring of four frames, counting callbacks
//   memory   no activity: the overlay mask on (a dynamic block), two windows
//            of the static memory and two dynamic blocks of the device manager
// Any failure before "ready" prints "failed WHAT STATUS" and exits 1.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "lx/devmm.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"

namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 288;
constexpr uint32_t kFrameBytes = kWidth * kHeight;
constexpr int kBoundMs = 10000;

std::atomic<int> callbacks{0};

int32_t countFrame(SnapExInfo*) {
  callbacks.fetch_add(1);
  return 0;
}

int fail(const char* what, LxStatus status) {
  std::printf("failed %s %d\n", what, status);
  return 1;
}

// Waits, bounded, until the ring position has moved (the card snaps).
bool ringTurns(LxCardHandle card) {
  int32_t first = -1;
  if (LxGetSnappingNumber(card, &first) != LX_OK) return false;
  for (int ms = 0; ms < kBoundMs; ms += 2) {
    int32_t now = -1;
    if (LxGetSnappingNumber(card, &now) != LX_OK) return false;
    if (now != first) return true;
    usleep(2000);
  }
  return false;
}

bool callbacksArrive(int count) {
  for (int ms = 0; ms < kBoundMs && callbacks.load() < count; ms += 2) usleep(2000);
  return callbacks.load() >= count;
}

// A line on standard input, or its end, within a minute.
void awaitProbe() {
  pollfd input{0, POLLIN, 0};
  if (poll(&input, 1, 60000) > 0) {
    char line[64];
    if (read(0, line, sizeof line) < 0) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string activity = argc > 1 ? argv[1] : "";
  LxCardHandle card = nullptr;
  LxStatus status = BeginLxCard(1, &card);
  if (status != LX_OK) return fail("open", status);
  if ((status = LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL)) != LX_OK) return fail("format", status);
  if ((status = LxSetOutputWindow(card, 0, 0, kWidth, kHeight)) != LX_OK) return fail("window", status);

  if (activity == "capture") {
    // Onto the 32-bit screen.
    if ((status = LxSetVideoFormat(card, LX_VIDEO_FORMAT_RGB8888)) != LX_OK) return fail("format", status);
    if ((status = LxCapture(card, 1)) != LX_OK) return fail("capture", status);
    usleep(20000);  // some fields onto the screen
  } else if (activity == "ring") {
    if ((status = LxStartSnap(card, 0, 1, 4)) != LX_OK) return fail("ring", status);
    if (!ringTurns(card)) return fail("turn", LX_INTERNAL_ERROR);
  } else if (activity == "series") {
    std::printf("ready\n");
    std::printf("ended series=%d end=", LxSnapShot(card, 0, 50, 1, 100));
    std::printf("%d\n", EndLxCard(card));
    return 0;
  } else if (activity == "snapex") {
    if ((status = LxOpenSnapEx(card, countFrame, nullptr)) != LX_OK) return fail("open-ex", status);
    if ((status = LxStartSnapEx(card, 0, 1, 4)) != LX_OK) return fail("snap-ex", status);
    if (!callbacksArrive(3)) return fail("callbacks", LX_INTERNAL_ERROR);
  } else if (activity == "memory") {
    if ((status = LxEnableMask(card, 1)) != LX_OK) return fail("mask", status);
    for (uint32_t k = 0; k < 2; ++k) {
      LxStaticMemLockHandle lock = nullptr;
      void* address = nullptr;
      if ((status = LxStaticMemLock(k * 4 * kFrameBytes, kFrameBytes, &lock, &address)) != LX_OK)
        return fail("lock", status);
      std::memset(address, 0x11, kFrameBytes);
      DynamicMemBlock block{};
      block.Size = 0x10000;
      if ((status = LxDevAllocDynamicMem(&block)) != LX_OK) return fail("alloc", status);
      std::memset(reinterpret_cast<void*>(static_cast<uintptr_t>(block.UserAddress)), 0x22, block.Size);
    }
  } else {
    return fail("activity", LX_PARAMETER_INVALID);
  }
  std::printf("ready\n");

  awaitProbe();
  if (activity == "capture") {
    int32_t present = -1;
    const LxStatus asked = LxVideoPresent(card, &present);
    std::printf("probe present=%d stop=%d\n", asked, LxCapture(card, 0));
    std::printf("ended end=%d\n", EndLxCard(card));
  } else if (activity == "ring") {
    int32_t number = -1;
    std::printf("probe number=%d\n", LxGetSnappingNumber(card, &number));
    const LxStatus stopped = LxStopSnap(card);
    std::printf("ended stop=%d end=%d\n", stopped, EndLxCard(card));
  } else if (activity == "snapex") {
    // Callbacks that come after the card was lost. A frame the card finished
    // just before it went may still be on its way to the callback on a busy
    // host: let it land before counting.
    usleep(100000);
    const int before = callbacks.load();
    usleep(300000);
    std::printf("probe callbacks=%d\n", callbacks.load() - before);
    const LxStatus stopped = LxStopSnapEx(card);
    const LxStatus closed = LxCloseSnapEx(card);
    std::printf("ended stop=%d close=%d end=%d\n", stopped, closed, EndLxCard(card));
  } else {
    std::printf("probe\nended end=%d\n", EndLxCard(card));
  }
  return 0;
}
