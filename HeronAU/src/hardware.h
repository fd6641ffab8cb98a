// Claiming and releasing the audio function: the register window and the
// interrupt from the translated resources at start; the drain of the
// requests in the driver before they go away at stop and removal.
#pragma once

#include "audio_state.h"

// Nothing is done when the hardware is already started.
NTSTATUS startHardware(AudioDeviceState* state, PCM_RESOURCE_LIST translated);
// Sets NotReady; when started, completes the waits, drains the requests in
// the driver and releases the hardware. Called with the PnP request's own
// outstanding count held.
void stopDevice(AudioDeviceState* state);
