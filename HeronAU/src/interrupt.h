// The interrupt routine: counts block interrupts and acknowledges causes;
// completing waits is left to the DPC it queues.
#pragma once

#include "audio_state.h"

KSERVICE_ROUTINE AudioInterrupt;
