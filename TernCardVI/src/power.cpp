// Power requests go to the bus driver unchanged; system control (WMI)
// requests too, while the card takes requests.
#include "admission.h"
#include "dispatch.h"

NTSTATUS TernPower(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(cardExtension(device)->lowerDevice, irp);
}

NTSTATUS TernSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    if (!extension->acceptingRequests.load()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!acquireRequest(extension)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(extension->lowerDevice, irp);
    releaseRequest(extension);
    return status;
}
