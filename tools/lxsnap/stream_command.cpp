#include "stream_command.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "card_session.h"
#include "frame_tick.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "status_report.h"
#include "stream_meter.h"
#include "video_names.h"

namespace lxsnap {

namespace {

// Ring entries, as many as fit up to this: until the card counts its frames
// itself, skips are seen as gaps round the ring, and a longer ring sees
// longer stalls (16 frames: 0.64 s of PAL).
constexpr uint32_t kMostRingFrames = 16;
constexpr uint32_t kPageBytes = 4096;
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onInterrupt(int) { interrupted.store(true); }

uint64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

struct StreamState {
  StreamMeter meter;
};

// The account of one callback, as the card gave it.
int32_t onFrame(SnapExInfo* info) {
  const uint64_t now = monotonicNs();
  auto* state = static_cast<StreamState*>(info->context);
  state->meter.record(frameTickOf(*info, now));
  return 0;
}

uint32_t ringFramesFor(const FrameLayout& layout) {
  uint32_t pages = 0;
  if (LxGetStaticMem(&pages) != LX_OK || layout.bytes() == 0) {
    return kMostRingFrames;  // the start reports what is wrong
  }
  const uint64_t room = uint64_t{pages} * kPageBytes / layout.bytes();
  return static_cast<uint32_t>(std::clamp<uint64_t>(room, 1, kMostRingFrames));
}

// Ctrl-C and SIGTERM end the run cleanly (the card is stopped and closed)
// for as long as this lives.
class InterruptScope {
 public:
  InterruptScope() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
  }
  ~InterruptScope() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

// Prints the live line until the time is up or the run is interrupted;
// returns the seconds it ran. `start` is taken before the snap starts, so
// every frame counted falls within the seconds reported.
double watch(const StreamMeter& meter, double totalSeconds, std::chrono::steady_clock::time_point start) {
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  // A terminal line is rewritten in place; a file or pipe gets one a second.
  const auto lineEvery = terminal ? std::chrono::milliseconds(250) : std::chrono::milliseconds(1000);
  auto lastLine = start;
  StreamReading previous;
  double elapsed = 0;
  while (!interrupted.load() && (totalSeconds <= 0 || elapsed < totalSeconds)) {
    std::this_thread::sleep_for(kTick);
    const auto now = std::chrono::steady_clock::now();
    elapsed = std::chrono::duration<double>(now - start).count();
    if (now - lastLine < lineEvery) {
      continue;
    }
    const StreamReading reading = meter.read();
    const std::string line = liveLine(reading, previous, std::chrono::duration<double>(now - lastLine).count(),
                                      elapsed, totalSeconds);
    std::printf(terminal ? "\r%s\033[K" : "%s\n", line.c_str());
    std::fflush(stdout);
    previous = reading;
    lastLine = now;
  }
  if (terminal) {
    std::printf("\n");
  }
  return elapsed;
}

}  // namespace

int runStream(const Options& options) {
  CardSession card;
  if (!card.open(options.video.card) || !card.apply(options.video)) {
    return kFailureExit;
  }
  const FrameLayout layout = frameLayoutOf(options.video);
  const uint32_t ringFrames = ringFramesFor(layout);
  StreamState state;
  if (const LxStatus status = LxOpenSnapEx(card.handle(), onFrame, &state); status != LX_OK) {
    return reportFailure("opening snap-ex", status);
  }
  std::printf("card %d: streaming %ux%u %s, scan %s, into a ring of %u frames%s\n", options.video.card, layout.width,
              layout.lines, nameOf(formatNames(), layout.format).c_str(),
              nameOf(scanNames(), options.video.scan).c_str(), ringFrames,
              options.seconds > 0 ? "" : " until Ctrl-C");
  std::fflush(stdout);

  int result = 0;
  double elapsed = 0;
  {
    InterruptScope interrupts;
    const auto start = std::chrono::steady_clock::now();
    if (const LxStatus status = LxStartSnapEx(card.handle(), 0, 1, static_cast<uint16_t>(ringFrames));
        status != LX_OK) {
      result = reportFailure("starting the snap", status);
    } else {
      elapsed = watch(state.meter, options.seconds, start);
      if (const LxStatus stopped = LxStopSnapEx(card.handle()); stopped != LX_OK) {
        result = reportFailure("stopping the snap", stopped);
      }
    }
    // Returns once no callback runs or will run; the state may go after it.
    if (const LxStatus closed = LxCloseSnapEx(card.handle()); closed != LX_OK && result == 0) {
      result = reportFailure("closing snap-ex", closed);
    }
  }
  if (result == 0) {
    const StreamReading total = state.meter.read();
    std::printf("%s\n", summaryLine(total, elapsed).c_str());
    if (total.delivered == 0) {
      std::fprintf(stderr, "lxsnap: no frame arrived: is there a signal on the input? 'lxsnap --list' shows the "
                           "inputs with a signal.\n");
      result = kFailureExit;
    }
  }
  return result;
}

}  // namespace lxsnap
