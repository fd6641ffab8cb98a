// Win32 subset: GlobalAlloc family, heap helpers.
#pragma once

#include "windows.h"
