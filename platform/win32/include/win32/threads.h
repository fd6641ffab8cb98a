// Win32 subset: threads, waiting, critical sections, Sleep, tick count.
#pragma once

#include "windows.h"
