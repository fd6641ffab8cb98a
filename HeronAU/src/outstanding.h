// The outstanding count: every request in the driver holds one until it is
// completed (or passed down), so that a stop can wait until none is left
// before the registers and the interrupt go away.
#pragma once

#include "audio_state.h"

// False while a stop drains the device: the request must be refused.
bool takeOutstanding(AudioDeviceState* state);
// Exactly once per taken count, by whichever path completes the request.
void giveOutstanding(AudioDeviceState* state);
