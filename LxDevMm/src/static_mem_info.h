// The static-memory size information: requested pages, physical base and
// whether the service vouched for them.
#pragma once

#include "lx/static_mem_records.h"

namespace lxdevmm {

// Asks the service once. The record is written in every case: zeros and
// Valid 0 when the library or its export is missing or the service fails.
StaticMemInfo fetchStaticMemInfo();

}  // namespace lxdevmm
