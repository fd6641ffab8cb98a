// Win32 subset: GetVersionExA.
#pragma once

#include "windows.h"
