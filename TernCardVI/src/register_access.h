// One register request of the card library, carried out on the window.
#pragma once

#include "extension.h"

struct RequestResult {
    NTSTATUS status;
    ULONG_PTR information;
};

// `buffer` is the request's system buffer (at least max(input, output) bytes).
RequestResult accessRegister(TernCardVIExtension* extension, PVOID buffer, ULONG inputLength, ULONG outputLength);
