// TernCardVI: the PnP function driver of the TernCard capture card. The
// machine loads it for the card's PCI identifiers; it maps the register
// window and carries the card library's register and slot requests.
#include "dispatch.h"

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    registerEntryPoints(driver);
    return STATUS_SUCCESS;
}
