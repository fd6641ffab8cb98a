#include "register_io.h"

bool insideWindow(const AudioDeviceState* state, ULONG offset, ULONG width) {
    return static_cast<ULONGLONG>(offset) + width <= state->resourceLength.load();
}

UCHAR readRegisterByte(const AudioDeviceState* state, ULONG offset) {
    PUCHAR address = state->registerBase.load() + offset;
    return state->portIo.load() ? READ_PORT_UCHAR(address) : READ_REGISTER_UCHAR(address);
}

ULONG readRegisterUlong(const AudioDeviceState* state, ULONG offset) {
    auto* address = reinterpret_cast<PULONG>(state->registerBase.load() + offset);
    return state->portIo.load() ? READ_PORT_ULONG(address) : READ_REGISTER_ULONG(address);
}

void writeRegisterByte(const AudioDeviceState* state, ULONG offset, UCHAR value) {
    PUCHAR address = state->registerBase.load() + offset;
    if (state->portIo.load()) {
        WRITE_PORT_UCHAR(address, value);
        return;
    }
    WRITE_REGISTER_UCHAR(address, value);
    KeMemoryBarrier();
}

void writeRegisterUlong(const AudioDeviceState* state, ULONG offset, ULONG value) {
    auto* address = reinterpret_cast<PULONG>(state->registerBase.load() + offset);
    if (state->portIo.load()) {
        WRITE_PORT_ULONG(address, value);
        return;
    }
    WRITE_REGISTER_ULONG(address, value);
    KeMemoryBarrier();
}
