#include "log.h"

#include <cstdarg>
#include <cstdio>

#include "runtime.h"

namespace nt {
namespace {

std::string format(const char* fmt, va_list args) {
    char buffer[1024];
    int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    if (n < 0) return {};
    std::string line(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

}  // namespace

Log::Log(Sink sink) : sink_(std::move(sink)) {}

void Log::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (sink_)
        sink_(line);
    else
        std::fprintf(stderr, "kernel: %s\n", line.c_str());
}

void Log::printf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string line = format(fmt, args);
    va_end(args);
    write(line);
}

void klog(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string line = format(fmt, args);
    va_end(args);
    Runtime* rt = runtime();
    if (rt && rt->log)
        rt->log->write(line);
    else
        std::fprintf(stderr, "kernel: %s\n", line.c_str());
}

}  // namespace nt
