// One register request of the card library, carried out on the window.
#pragma once

#include "extension.h"

struct RequestResult {
    NTSTATUS status;
    ULONG_PTR information;
};

// `buffer` is the request's system buffer (at least max(input, output) bytes).
RequestResult accessRegister(TernCardVIExtension* extension, PVOID buffer, ULONG inputLength, ULONG outputLength);

// Stops the card's DMA engine (capture control, then DMA control, to 0)
// through the window, when it is mapped. A program the card runs lives in
// memory of the process that built it; once that process can no longer
// stop the card (its handle closes, it dies, the card is stopped or gone)
// the driver does, before that memory can be handed to anyone else.
void haltCardDma(TernCardVIExtension* extension);
