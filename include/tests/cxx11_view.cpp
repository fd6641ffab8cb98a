// The public headers compiled as C++11, the oldest language they promise.
#include "all_public_headers.h"

#if __cplusplus != 201103L
#error "this unit must be compiled as C++11"
#endif

static_assert(sizeof(SnapExInfo) == 40, "the record keeps its size in C++11");
