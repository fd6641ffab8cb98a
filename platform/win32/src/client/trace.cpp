#include "trace.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace lx::win32::client {

bool traceEnabled() {
    const char* value = std::getenv("LX_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
}

void trace(const std::string& line) {
    if (!traceEnabled()) return;
    // One write per line, so lines of concurrent threads never interleave.
    std::string text = "lx: " + line + "\n";
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace lx::win32::client
