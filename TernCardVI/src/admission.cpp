#include "admission.h"

bool acquireRequest(TernCardVIExtension* extension) {
    extension->outstandingRequests.fetch_add(1);
    if (extension->draining.load()) {
        releaseRequest(extension);
        return false;
    }
    return true;
}

void releaseRequest(TernCardVIExtension* extension) {
    if (extension->outstandingRequests.fetch_sub(1) == 1) {
        KeSetEvent(&extension->idleEvent, IO_NO_INCREMENT, FALSE);
    }
}
