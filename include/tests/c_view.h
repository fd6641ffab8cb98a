// What a C11 translation unit sees of the public headers: sizes, offsets and
// values as C computes them, for comparison with the C++ view.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Fills up to `capacity` entries in a fixed order (see c_view.c) and returns
// how many there are.
int lxCViewFacts(int64_t* facts, int capacity);

#ifdef __cplusplus
}
#endif
