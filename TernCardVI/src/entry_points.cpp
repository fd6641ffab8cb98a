#include "dispatch.h"

void registerEntryPoints(PDRIVER_OBJECT driver) {
    driver->DriverExtension->AddDevice = TernAddDevice;
    driver->DriverStartIo = TernStartIo;
    driver->DriverUnload = TernUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = TernCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = TernClose;
    driver->MajorFunction[IRP_MJ_READ] = TernReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = TernReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = TernDeviceControl;
    driver->MajorFunction[IRP_MJ_CLEANUP] = TernCleanup;
    driver->MajorFunction[IRP_MJ_POWER] = TernPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = TernSystemControl;
    driver->MajorFunction[IRP_MJ_PNP] = TernPnp;
}

// Every device is gone before the machine unloads the driver.
VOID TernUnload(PDRIVER_OBJECT) {}
