// PCI configuration space through the HAL.
#include <cstring>

#include "lxmachine/hw/pci_bus.h"
#include "ntddk.h"
#include "runtime.h"

using namespace nt;

namespace {

ULONG busData(bool write, BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG offset, ULONG length) {
    Runtime* rt = runtime();
    if (!rt || type != PCIConfiguration || !buffer) return 0;
    if (!rt->pciBus->busExists(bus)) return 0;
    PCI_SLOT_NUMBER number;
    number.u.AsULONG = slot;
    const lxhw::PciAddress address{bus, number.u.bits.DeviceNumber, number.u.bits.FunctionNumber};
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (!rt->pciBus->at(address)) {
        // An empty slot: the vendor identifier reads as 0xFFFF.
        if (write) return 0;
        if (offset == 0 && length >= 2) {
            bytes[0] = bytes[1] = 0xFF;
            return 2;
        }
        return 0;
    }
    if (offset >= 256) return 0;
    if (length > 256 - offset) length = 256 - offset;
    for (ULONG i = 0; i < length; ++i) {
        if (write)
            rt->pciBus->configWrite(address, offset + i, 1, bytes[i]);
        else
            bytes[i] = static_cast<uint8_t>(rt->pciBus->configRead(address, offset + i, 1));
    }
    return length;
}

}  // namespace

extern "C" {

ULONG HalGetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer, ULONG Offset,
                            ULONG Length) {
    return busData(false, BusDataType, BusNumber, SlotNumber, Buffer, Offset, Length);
}

ULONG HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer, ULONG Length) {
    return busData(false, BusDataType, BusNumber, SlotNumber, Buffer, 0, Length);
}

ULONG HalSetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer, ULONG Offset,
                            ULONG Length) {
    return busData(true, BusDataType, BusNumber, SlotNumber, Buffer, Offset, Length);
}

}  // extern "C"
