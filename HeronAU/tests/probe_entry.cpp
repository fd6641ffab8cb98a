// The driver's code under a test service: DriverEntry also keeps the driver
// object, so that the in-process tests reach the device object and can send
// the PnP requests that the machine sends only on plugging and unplugging.
#include "dispatch.h"

namespace {

PDRIVER_OBJECT g_driver = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) PDRIVER_OBJECT HeronProbeDriverObject() { return g_driver; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    registerEntryPoints(driver);
    g_driver = driver;
    return STATUS_SUCCESS;
}
