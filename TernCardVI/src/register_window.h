// The card's register window: set up from the translated resources at
// start, taken down by a stop once no admitted request is left.
#pragma once

#include "extension.h"

// Nothing is done when already started.
NTSTATUS setUpRegisters(TernCardVIExtension* extension, PCM_RESOURCE_LIST translated);
// Clears acceptingRequests; when started, drains the admitted requests,
// then unmaps the window. Called with the PnP request's own admission held.
void stopDevice(TernCardVIExtension* extension);
