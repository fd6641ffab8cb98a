// Reservation of the static memory at driver start, in the size that the
// service's Parameters key asks for.
#pragma once

#include "static_mem_state.h"

// Reads RequiredMemorySize below the service key, reserves that many pages
// (or none) and writes ReturnValue. Its outcome does not fail the start.
void reserveStaticMemory(StaticMemState* state, PCUNICODE_STRING serviceKeyPath);

// Frees the static memory at unload.
void releaseStaticMemory(StaticMemState* state);
