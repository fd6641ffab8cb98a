// Which snapping numbers report a new frame, and which ring entry it is.
// Pure functions of the numbers the card reports and the ring's shape.
#pragma once

#include <stdint.h>

namespace lxvidex {

struct RingShape {
  int32_t scanMode;    // of the card at start
  int32_t interleave;  // flag of the start
  int32_t frames;      // ring length of the start
};

// The card reports the ring entry it is writing. In frame mode with
// interleaved fields it counts fields, two entries per frame.
bool countsFieldPairs(const RingShape& ring);

// Whether `number` reports a frame not yet delivered after `lastDelivered`
// (-1: nothing delivered since the start). The entry being written when
// nothing has been delivered yet is not a completed frame.
bool isNewFrame(int32_t number, int32_t lastDelivered, const RingShape& ring);

// The card's numbers run from 0 to numberRange - 1 round the ring; a frame
// is numbersPerFrame of them.
int32_t numberRange(const RingShape& ring);
int32_t numbersPerFrame(const RingShape& ring);

// How many distinct positions the card's numbers take in the ring: with only
// one, the numbers never move and no frame after the first can be told apart.
int32_t distinctNumbers(const RingShape& ring);

// The ring entry completed just before the one `number` is writing; -1 for a
// number or ring that names no entry.
int32_t frameIndexOf(int32_t number, const RingShape& ring);

}  // namespace lxvidex
