/* Counts snap-ex callbacks: snaps continuously into a ring of frames and
 * prints, once a second, how many frames the callback was told about.
 * The first argument is the number of seconds (default 3). */
#define _POSIX_C_SOURCE 200809L  /* nanosleep */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <lx/snap_ex.h>
#include <lx/video.h>

enum { kRingFrames = 8, kWidth = 384, kHeight = 288 };

typedef struct Counters {
  atomic_uint told;     /* callbacks */
  atomic_uint skipped;  /* frames completed but not told */
} Counters;

/* Runs on the library's delivery thread. */
static int32_t onFrame(SnapExInfo* info) {
  Counters* counters = info->context;
  atomic_fetch_add(&counters->told, 1);
  atomic_fetch_add(&counters->skipped, info->skipped);
  return 0;
}

static int fail(const char* what, LxStatus status) {
  fprintf(stderr, "snap_ex_rate: %s: %s\n", what, LxGetErrorString(status));
  return 1;
}

static int stream(LxCardHandle card, int seconds) {
  Counters counters;
  atomic_init(&counters.told, 0);
  atomic_init(&counters.skipped, 0);
  LxStatus status = LxOpenSnapEx(card, onFrame, &counters);
  if (status != LX_OK) return fail("opening snap-ex", status);
  int result = 0;
  status = LxStartSnapEx(card, 0, 1, kRingFrames);
  if (status != LX_OK) {
    result = fail("starting snap-ex", status);
  } else {
    unsigned previous = 0;
    for (int second = 1; second <= seconds; ++second) {
      struct timespec oneSecond = {1, 0};
      nanosleep(&oneSecond, NULL);
      const unsigned told = atomic_load(&counters.told);
      printf("%3d s  %u frames/s  (%u frames, %u skipped)\n", second, told - previous, told,
             atomic_load(&counters.skipped));
      fflush(stdout);
      previous = told;
    }
    status = LxStopSnapEx(card);
    if (status != LX_OK) result = fail("stopping snap-ex", status);
    if (atomic_load(&counters.told) == 0) {
      fprintf(stderr, "snap_ex_rate: no frame was told\n");
      result = 1;
    }
  }
  status = LxCloseSnapEx(card);
  if (status != LX_OK && result == 0) result = fail("closing snap-ex", status);
  return result;
}

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 3;
  if (seconds <= 0) {
    fprintf(stderr, "usage: snap_ex_rate [seconds]\n");
    return 2;
  }
  LxCardHandle card = NULL;
  LxStatus status = BeginLxCard(1, &card);
  if (status != LX_OK) return fail("opening card 1", status);
  int result = 0;
  if ((status = LxSetVideoFormat(card, LX_VIDEO_FORMAT_RGB565)) != LX_OK ||
      (status = LxSetOutputWindow(card, 0, 0, kWidth, kHeight)) != LX_OK) {
    result = fail("setting the picture", status);
  } else {
    result = stream(card, seconds);
  }
  status = EndLxCard(card);
  if (status != LX_OK && result == 0) result = fail("ending card 1", status);
  return result;
}
