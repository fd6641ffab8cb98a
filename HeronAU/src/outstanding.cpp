#include "outstanding.h"

bool takeOutstanding(AudioDeviceState* state) {
    state->OutstandingCount.fetch_add(1);
    if (state->Removing.load()) {
        giveOutstanding(state);
        return false;
    }
    return true;
}

void giveOutstanding(AudioDeviceState* state) {
    if (state->OutstandingCount.fetch_sub(1) == 1) {
        KeSetEvent(&state->removeEvent, IO_NO_INCREMENT, FALSE);
    }
}
