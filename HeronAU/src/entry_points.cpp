#include "dispatch.h"

void registerEntryPoints(PDRIVER_OBJECT driver) {
    driver->DriverExtension->AddDevice = AudioAddDevice;
    driver->DriverStartIo = AudioStartIo;
    driver->DriverUnload = AudioUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = AudioCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = AudioClose;
    driver->MajorFunction[IRP_MJ_READ] = AudioReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = AudioReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = AudioDeviceControl;
    driver->MajorFunction[IRP_MJ_CLEANUP] = AudioCleanup;
    driver->MajorFunction[IRP_MJ_POWER] = AudioPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = AudioSystemControl;
    driver->MajorFunction[IRP_MJ_PNP] = AudioPnp;
}

// Every device is gone before the machine unloads the driver.
VOID AudioUnload(PDRIVER_OBJECT) {}
