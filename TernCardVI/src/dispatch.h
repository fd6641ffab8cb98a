// The driver's entry points, registered in DriverEntry.
#pragma once

#include <ntddk.h>

DRIVER_ADD_DEVICE TernAddDevice;
DRIVER_STARTIO TernStartIo;
DRIVER_UNLOAD TernUnload;
DRIVER_CANCEL TernCancelQueued;

DRIVER_DISPATCH TernCreate;
DRIVER_DISPATCH TernClose;
DRIVER_DISPATCH TernCleanup;
DRIVER_DISPATCH TernReadWrite;
DRIVER_DISPATCH TernDeviceControl;
DRIVER_DISPATCH TernPower;
DRIVER_DISPATCH TernSystemControl;
DRIVER_DISPATCH TernPnp;

// Fills the driver object with the entry points above.
void registerEntryPoints(PDRIVER_OBJECT driver);
