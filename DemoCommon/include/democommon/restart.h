// Restarting the computer for a new static-memory size: at once on the older
// consumer family, otherwise after enabling the shutdown privilege in the
// process's token; when that fails, the message that the privilege could not
// be had, and no restart.
#pragma once

#include "democommon/os_info.h"

namespace demo {

// True when the restart is under way.
bool restartComputer(const COperateSystemInfo& os, const char* caption);

}  // namespace demo
