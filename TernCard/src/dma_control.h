// Running the DMA engine: the program buffer, start and stop, and the field
// waits. Every wait on the card is bounded in host time, so a card without
// a picture (no field syncs) or a stopped engine never hangs a caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Bound of one field wait, one hand-over poll or one program-counter query:
// ten PAL field times of a real-time card. A card that shows no field of a
// picture within it has no signal.
inline constexpr std::chrono::milliseconds kFieldWaitBound{200};

// A deadline kFieldWaitBound from now.
class FieldDeadline {
 public:
  FieldDeadline() : end_(std::chrono::steady_clock::now() + kFieldWaitBound) {}
  bool passed() const { return std::chrono::steady_clock::now() >= end_; }
  // Between two polls of the card: every register read is a request through
  // the driver, and a poller that never lets go takes the processor from the
  // threads serving it and from the card. It yields rather than sleeps: a
  // sleep of a few microseconds often lasts a millisecond, half the time a
  // hand-over has at a fast clock.
  static void pauseBetweenPolls() { std::this_thread::yield(); }

 private:
  std::chrono::steady_clock::time_point end_;
};

// True when a program buffer of at least `bytes` is held; a smaller one is
// replaced (the DMA engine is stopped first: its program goes away). More
// than 32 bits of bytes is refused, nothing changed.
bool EnsureProgramBuffer(TernCardContext* context, uint64_t bytes);

// Clears the DMA error bits, points the card at the program buffer and
// enables capture and DMA; false when the error bits do not clear (nothing
// is enabled then) or the engine faulted at once (stopped again).
bool StartDma(TernCardContext* context);
void StopDma(TernCardContext* context);

// True while the library has the engine enabled and the card reports a
// fault of it (REG_INT_STATUS bits 12-15): the engine has halted, and an
// operation waiting on it must fail rather than hand over a partial frame.
bool dmaFaulted(TernCardContext* context);

// Field waits on REG_VIDEO_STATUS: Odd returns when a first field begins
// (bit 5 falls), Even when a second field begins (bit 5 rises). Only fields
// of a picture count (bit 7 set). False when the bound passed first, or
// when the engine the library runs has faulted meanwhile.
bool waitOddField(TernCardContext* context);
bool waitEvenField(TernCardContext* context);

// The waits the capture operations make, by scan mode.
bool waitTwoFields(TernCardContext* context);   // two Even in mode 2, else two Odd
bool waitFrameEnd(TernCardContext* context);    // Even in mode 1, else Odd
bool waitExtraFields(TernCardContext* context, uint32_t count);  // Even in mode 2, else Odd

}  // namespace terncard
