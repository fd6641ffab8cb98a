// Request admission: every request that may reach the card or the lower
// drivers is counted while it is in the driver, so that a stop can wait
// until none is left before the register window goes away.
#pragma once

#include "extension.h"

// False when a stop is draining the device: the request must be refused.
bool acquireRequest(TernCardVIExtension* extension);
// Called exactly once per admitted request, when it is completed or passed down.
void releaseRequest(TernCardVIExtension* extension);
