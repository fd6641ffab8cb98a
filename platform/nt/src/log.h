// The kernel's log: DbgPrint output and the runtime's own messages, sent to
// the sink the machine gave at boot (stderr when none).
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace nt {

class Log {
public:
    using Sink = std::function<void(const std::string&)>;
    explicit Log(Sink sink);
    void write(const std::string& line);
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex mutex_;
    Sink sink_;
};

// Logs through the running kernel, or to stderr.
void klog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nt
