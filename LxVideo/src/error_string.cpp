// One status table serves every layer: the device manager's.
#include "lx/devmm.h"
#include "lx/video.h"

LX_EXPORT const char* LxGetErrorString(int code) { return LxDevGetErrorString(code); }
