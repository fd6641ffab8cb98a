// What the screen's device context and its pixel reader share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "lxmachine/wire.h"

namespace lx::win32::gdi {

// The one device context this layer hands out: the whole screen.
inline HDC const kScreenDc = reinterpret_cast<HDC>(static_cast<uintptr_t>(0x5C4EE000));

// Makes the pixel reader ask the machine for the display mode at its next
// read: a device context taken after a mode change reads the new mode.
void expireScreenView();

// Runs `use` with the current mode and the mapped video memory (pitch bytes a
// line), under the reader's lock; false, without calling it, when there is
// no screen.
bool withScreenPixels(const std::function<void(const lxm::wire::DisplayModeRecord&, const uint8_t*)>& use);

// The same, for drawing: the pixels may be written.
bool withWritableScreenPixels(const std::function<void(const lxm::wire::DisplayModeRecord&, uint8_t*)>& use);

}  // namespace lx::win32::gdi
