// Internal: LX_TRACE=1 reports, on standard error, why the layer could not
// reach the machine or why a device refused a request. Off by default; the
// variable is read at each report, so a program may turn it on at run time.
#pragma once

#include <string>

namespace lx::win32::client {

bool traceEnabled();
// Writes "lx: <line>\n" to standard error as one write when tracing is on.
void trace(const std::string& line);

}  // namespace lx::win32::client
