// Win32 subset: named file mappings and mutexes.
#pragma once

#include "windows.h"
