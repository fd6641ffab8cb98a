// The display adapter on the PCI bus: the first VGA-compatible display
// controller in bus, device, function order.
#include "control_requests.h"

namespace {

constexpr UCHAR kDisplayController = 0x03;
constexpr UCHAR kVgaCompatible = 0x00;
constexpr ULONG kBusCount = 256;
constexpr ULONG kDevicesPerBus = 32;
constexpr ULONG kFunctionsPerDevice = 8;

struct AdapterIdentity {
    ULONG vendor;
    ULONG device;
};

// Scans until a bus answers nothing; that bus is finished and the scan ends.
AdapterIdentity scanForDisplayAdapter() {
    for (ULONG bus = 0; bus < kBusCount; ++bus) {
        bool busMissing = false;
        for (ULONG device = 0; device < kDevicesPerBus; ++device) {
            for (ULONG function = 0; function < kFunctionsPerDevice; ++function) {
                PCI_SLOT_NUMBER slot;
                slot.u.AsULONG = 0;
                slot.u.bits.DeviceNumber = device;
                slot.u.bits.FunctionNumber = function;
                PCI_COMMON_CONFIG header;
                RtlZeroMemory(&header, sizeof header);
                const ULONG read =
                    HalGetBusDataByOffset(PCIConfiguration, bus, slot.u.AsULONG, &header, 0, PCI_COMMON_HDR_LENGTH);
                if (read == 0) {
                    busMissing = true;  // no such bus
                    break;
                }
                if (header.VendorID == PCI_INVALID_VENDORID) {
                    break;  // no function here: next device
                }
                if (header.BaseClass == kDisplayController && header.SubClass == kVgaCompatible) {
                    return {header.VendorID, header.DeviceID};
                }
            }
        }
        if (busMissing) {
            break;
        }
    }
    return {0, 0};
}

}  // namespace

ControlResult findDisplayAdapter(const ControlRequest& request) {
    const AdapterIdentity identity = scanForDisplayAdapter();
    const ULONG answer[2] = {identity.vendor, identity.device};
    RtlCopyMemory(request.buffer, answer, sizeof answer);
    return {STATUS_SUCCESS, sizeof answer};
}
