// The monitors of the cards with monitored capture running: entry n-1 for
// global card number n.
#pragma once

#include <windows.h>

#include <mutex>

namespace lxvidex {

class CMonitor;

inline constexpr int kMonitorSlots = 128;

struct MonitorTable {
  // Held while an entry is read or changed, and by the timer procedure for
  // its updates, so a monitor is never destroyed under a running update.
  std::recursive_mutex mutex;
  CMonitor* monitors[kMonitorSlots] = {};
};

MonitorTable& monitorTable();

// The timer procedure of method 0: updates every monitor of the window.
void monitorTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

}  // namespace lxvidex
