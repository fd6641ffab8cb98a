// Same interface as ntddk.h.
#pragma once
#include "ntddk.h"
