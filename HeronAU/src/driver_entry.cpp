// HeronAU: the PnP function driver of the Heron card's audio function. It
// claims the register window and the interrupt, carries register requests
// from user mode and lets it wait for every fourth block interrupt.
#include "dispatch.h"

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    registerEntryPoints(driver);
    return STATUS_SUCCESS;
}
