// Requests between the library and the card's driver, in the library's terms.
#pragma once

#include <windows.h>

#include "lx/internal/terncard_ioctl.h"

namespace terncard {

inline constexpr GUID kCardInterfaceClass = TERNCARD_INTERFACE_GUID_INIT;

}  // namespace terncard
