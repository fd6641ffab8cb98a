// Public video API: the Lx functions that applications call.
#pragma once

#include "lx/export.h"
#include "lx/status.h"

// Text of a status (its constant's name); never fails, never to be freed.
LX_EXPORT const char* LxGetErrorString(int code);
