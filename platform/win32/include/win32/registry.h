// Win32 subset: registry functions.
#pragma once

#include "windows.h"
