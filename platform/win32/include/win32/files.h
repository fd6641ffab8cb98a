// Win32 subset: CreateFileA, DeviceIoControl, ReadFile, WriteFile, CloseHandle on device handles.
#pragma once

#include "windows.h"
