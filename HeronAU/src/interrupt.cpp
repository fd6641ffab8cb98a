#include "interrupt.h"

#include "lx/internal/heron_audio_ioctl.h"
#include "register_io.h"

BOOLEAN AudioInterrupt(PKINTERRUPT, PVOID context) {
    auto* state = static_cast<AudioDeviceState*>(context);
    const ULONG status = readRegisterUlong(state, AUDIO_STATUS_REGISTER);
    if ((status & AUDIO_CAUSE_MASK) == 0) {
        return FALSE;  // another device's on the shared line
    }
    if (status & AUDIO_BLOCK_INTERRUPT) {
        const ULONG count = state->InterruptCount.fetch_add(1) + 1;
        if (count % 4 == 0) {
            state->quadruples.fetch_add(1);
            KeInsertQueueDpc(&state->waitDpc, nullptr, nullptr);
        }
    }
    writeRegisterUlong(state, AUDIO_STATUS_REGISTER, status);
    return TRUE;
}
