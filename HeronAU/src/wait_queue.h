// Wait requests: one pending wait that the next multiple of 4 of the block
// interrupt count completes, the others queued behind it in arrival order.
// Every wait holds an outstanding count until it is completed.
#pragma once

#include "audio_state.h"

// IOCTL_AUDIO_WAIT_EVENT, with the request's outstanding count taken.
NTSTATUS queueWait(AudioDeviceState* state, PIRP irp);
// Completes every wait, pending and queued, with STATUS_CANCELLED: no
// interrupt will come for them (the handle closes, the hardware stops).
// With `closing`, waits that still arrive on that file afterwards (sent by
// another thread just before the close) are refused as cancelled too.
void cancelAllWaits(AudioDeviceState* state, PFILE_OBJECT closing = nullptr);

DRIVER_CANCEL AudioCancelWait;
// Queued by the interrupt routine when the count reaches a multiple of 4.
KDEFERRED_ROUTINE AudioWaitDpc;
