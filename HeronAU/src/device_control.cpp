// Device control: everything but the wait request is answered at once, so
// the codes run concurrently with each other; register accesses are single
// loads and stores.
#include "dispatch.h"
#include "lx/internal/heron_audio_ioctl.h"
#include "outstanding.h"
#include "register_io.h"
#include "wait_queue.h"

namespace {

struct Answer {
    NTSTATUS status;
    ULONG_PTR information;
};

// An access outside the register window is refused and touches nothing.
Answer registerIo(AudioDeviceState* state, PVOID buffer, ULONG inputLength, ULONG outputLength) {
    if (inputLength != sizeof(AudioRegisterRequest)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    AudioRegisterRequest request;
    RtlCopyMemory(&request, buffer, sizeof request);
    const ULONG width = request.Operation == AUDIO_REG_READ_BYTE || request.Operation == AUDIO_REG_WRITE_BYTE
                            ? sizeof(UCHAR)
                            : sizeof(ULONG);
    const bool known = request.Operation <= AUDIO_REG_WRITE_ULONG;
    if (known && (state->registerBase.load() == nullptr || !insideWindow(state, request.Offset, width))) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    switch (request.Operation) {
    case AUDIO_REG_READ_BYTE: request.Value = readRegisterByte(state, request.Offset); break;
    case AUDIO_REG_WRITE_BYTE: writeRegisterByte(state, request.Offset, static_cast<UCHAR>(request.Value)); break;
    case AUDIO_REG_READ_ULONG: request.Value = readRegisterUlong(state, request.Offset); break;
    case AUDIO_REG_WRITE_ULONG: writeRegisterUlong(state, request.Offset, request.Value); break;
    default: break;  // unknown operations do nothing and succeed
    }
    RtlCopyMemory(buffer, &request, sizeof request);
    // Never more than the caller's output buffer holds.
    return {STATUS_SUCCESS, outputLength < sizeof request ? outputLength : sizeof request};
}

Answer writeControl(AudioDeviceState* state, ULONG value) {
    if (state->registerBase.load() == nullptr || !insideWindow(state, AUDIO_CONTROL_REGISTER, sizeof(ULONG))) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    writeRegisterUlong(state, AUDIO_CONTROL_REGISTER, value);
    return {STATUS_SUCCESS, 0};
}

Answer answerUlong(PVOID buffer, ULONG outputLength, ULONG value) {
    if (outputLength != sizeof(ULONG)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    RtlCopyMemory(buffer, &value, sizeof value);
    return {STATUS_SUCCESS, sizeof value};
}

Answer setConfig(AudioDeviceState* state, PVOID buffer, ULONG inputLength) {
    if (inputLength != sizeof(AudioConfig)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    AudioConfig config;
    RtlCopyMemory(&config, buffer, sizeof config);
    state->InterruptCount.store(config.InterruptCount);
    return {STATUS_SUCCESS, 0};
}

}  // namespace

NTSTATUS AudioDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    if (!state->hasRegisters.load()) {
        return completeRequest(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    if (state->NotReady.load()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!takeOutstanding(state)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    Answer answer{STATUS_INVALID_DEVICE_REQUEST, 0};
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_AUDIO_WAIT_EVENT:
        if (state->StopPending.load() || state->NotReady.load()) {
            break;
        }
        return queueWait(state, irp);  // keeps its outstanding count until completed
    case IOCTL_AUDIO_REGISTER_IO: answer = registerIo(state, buffer, inputLength, outputLength); break;
    case IOCTL_AUDIO_CONTROL_SET: answer = writeControl(state, AUDIO_BLOCK_INTERRUPT); break;
    case IOCTL_AUDIO_CONTROL_CLEAR: answer = writeControl(state, 0); break;
    case IOCTL_AUDIO_GET_INTERRUPT_COUNT: answer = answerUlong(buffer, outputLength, state->InterruptCount.load()); break;
    case IOCTL_AUDIO_SET_CONFIG: answer = setConfig(state, buffer, inputLength); break;
    case IOCTL_AUDIO_GET_DEVICE_COUNT: answer = answerUlong(buffer, outputLength, audioDevicesAdded()); break;
    default: break;
    }
    giveOutstanding(state);
    return completeRequest(irp, answer.status, answer.information);
}
