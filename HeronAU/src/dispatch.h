// The driver's entry points, registered in DriverEntry.
#pragma once

#include <ntddk.h>

DRIVER_ADD_DEVICE AudioAddDevice;
DRIVER_STARTIO AudioStartIo;
DRIVER_UNLOAD AudioUnload;
DRIVER_CANCEL AudioCancelQueued;

DRIVER_DISPATCH AudioCreate;
DRIVER_DISPATCH AudioClose;
DRIVER_DISPATCH AudioCleanup;
DRIVER_DISPATCH AudioReadWrite;
DRIVER_DISPATCH AudioDeviceControl;
DRIVER_DISPATCH AudioPower;
DRIVER_DISPATCH AudioSystemControl;
DRIVER_DISPATCH AudioPnp;

// Fills the driver object with the entry points above.
void registerEntryPoints(PDRIVER_OBJECT driver);

// Devices added since the driver was loaded (the instance counter).
ULONG audioDevicesAdded();
