// Register access in the audio function's window, by port instructions or
// through the mapped memory window.
#pragma once

#include "audio_state.h"

// True when [offset, offset + width) lies inside the register resource.
bool insideWindow(const AudioDeviceState* state, ULONG offset, ULONG width);
UCHAR readRegisterByte(const AudioDeviceState* state, ULONG offset);
ULONG readRegisterUlong(const AudioDeviceState* state, ULONG offset);
// Memory-space writes are each followed by a full barrier.
void writeRegisterByte(const AudioDeviceState* state, ULONG offset, UCHAR value);
void writeRegisterUlong(const AudioDeviceState* state, ULONG offset, ULONG value);
