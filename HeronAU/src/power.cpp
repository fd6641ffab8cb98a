// Power requests go to the bus driver unchanged; system control (WMI)
// requests too, while the device takes requests.
#include "dispatch.h"
#include "outstanding.h"

NTSTATUS AudioPower(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(audioState(device)->lowerDevice, irp);
}

NTSTATUS AudioSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    if (state->NotReady.load()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!takeOutstanding(state)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(state->lowerDevice, irp);
    giveOutstanding(state);
    return status;
}
