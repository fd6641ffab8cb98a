// Win32 subset: SetupAPI device-interface enumeration.
#pragma once

#include "windows.h"
