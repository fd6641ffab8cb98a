#include "bug_check.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "nt/kernel_host.h"

namespace nt {
namespace {

thread_local const DriverCallScope* t_call = nullptr;

struct ModuleEntry {
    std::atomic<PDRIVER_OBJECT> object{nullptr};
    const void* base = nullptr;
    char name[64] = {};
};
ModuleEntry g_modules[64];
std::mutex g_modulesMutex;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction g_previous[std::size(kFaultSignals)];
std::atomic<bool> g_installed{false};
std::atomic<bool> g_stopping{false};
char g_crashFile[4096];

const ModuleEntry* moduleOfObject(PDRIVER_OBJECT object) {
    if (!object) return nullptr;
    for (const ModuleEntry& m : g_modules)
        if (m.object.load() == object) return &m;
    return nullptr;
}

const ModuleEntry* moduleOfAddress(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fbase) return nullptr;
    for (const ModuleEntry& m : g_modules)
        if (m.object.load() && m.base == info.dli_fbase) return &m;
    return nullptr;
}

// A fixed buffer: the record is written from a signal handler, so nothing
// here allocates.
struct Text {
    char data[32768];
    size_t used = 0;
    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (used >= sizeof data - 1) return;
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(data + used, sizeof data - used, format, args);
        va_end(args);
        if (n > 0) used = std::min(sizeof data - 1, used + static_cast<size_t>(n));
    }
    void addJsonString(const char* s) {
        add("\"");
        for (; *s; ++s) {
            const unsigned char ch = static_cast<unsigned char>(*s);
            if (ch == '"' || ch == '\\')
                add("\\%c", ch);
            else if (ch < 0x20)
                add("\\u%04x", ch);
            else
                add("%c", ch);
        }
        add("\"");
    }
};

Text g_log, g_json;
char g_frames[48][256];
char g_routine[256];

const char* codeName(ULONG code) {
    switch (code) {
    case stop::kKmodeExceptionNotHandled: return "KMODE_EXCEPTION_NOT_HANDLED";
    case stop::kMultipleIrpCompleteRequests: return "MULTIPLE_IRP_COMPLETE_REQUESTS";
    case stop::kDriverVerifierDetectedViolation: return "DRIVER_VERIFIER_DETECTED_VIOLATION";
    case stop::kDriverUnloadedWithPendingOperations: return "DRIVER_UNLOADED_WITHOUT_CANCELLING_PENDING_OPERATIONS";
    case 0xE2: return "MANUALLY_INITIATED_CRASH";
    default: return "BUG_CHECK";
    }
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// "YYYY-MM-DDTHH:MM:SSZ" by arithmetic: gmtime_r may allocate (its first
// call reads the time zone), which a signal handler must not.
void formatUtc(time_t now, char* out, size_t size) {
    const long long secondsOfDay = ((now % 86400) + 86400) % 86400;
    long long days = (now - secondsOfDay) / 86400 + 719468;  // days since 0000-03-01
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    std::snprintf(out, size, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day, secondsOfDay / 3600,
                  secondsOfDay / 60 % 60, secondsOfDay % 60);
}

// Describes a code address: "module+0xoffset (symbol+0xoffset)".
void describe(const void* address, char* out, size_t size) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) {
        std::snprintf(out, size, "%p", address);
        return;
    }
    const char* file = std::strrchr(info.dli_fname, '/');
    file = file ? file + 1 : info.dli_fname;
    const auto offset = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(info.dli_fbase);
    if (info.dli_sname)
        std::snprintf(out, size, "%s+0x%zx (%s+0x%zx)", file, static_cast<size_t>(offset), info.dli_sname,
                      static_cast<size_t>(reinterpret_cast<uintptr_t>(address) -
                                          reinterpret_cast<uintptr_t>(info.dli_saddr)));
    else
        std::snprintf(out, size, "%s+0x%zx", file, static_cast<size_t>(offset));
}

[[noreturn]] void stopMachine(ULONG code, const ULONG_PTR (&p)[4], const char* reason, const void* faultAddress,
                              PDRIVER_OBJECT blamed) {
    if (g_stopping.exchange(true)) {
        // Another thread is writing the record and ends the process.
        for (;;) ::pause();
    }
    void* frames[48];
    int count = ::backtrace(frames, 48);
    // A fault's trace starts at the faulting instruction, not in its handler.
    for (int i = 0; faultAddress && i < count; ++i) {
        if (frames[i] != faultAddress) continue;
        std::memmove(frames, frames + i, static_cast<size_t>(count - i) * sizeof frames[0]);
        count -= i;
        break;
    }

    // The driver: the one whose code faulted, else the innermost driver code
    // on the stack, else the routine the kernel called last on this thread.
    const ModuleEntry* driver = moduleOfAddress(faultAddress);
    const void* driverFrame = driver ? faultAddress : nullptr;
    if (!driver) driver = moduleOfObject(blamed);
    for (int i = 0; !driver && i < count; ++i) {
        if ((driver = moduleOfAddress(frames[i]))) driverFrame = frames[i];
    }
    const DriverCallScope* call = t_call;
    if (!driver && call) driver = moduleOfObject(call->driver);
    while (call && driver && moduleOfObject(call->driver) != driver) call = call->outer;
    if (call)
        std::snprintf(g_routine, sizeof g_routine, "%s", call->routine);
    else if (driverFrame)
        describe(driverFrame, g_routine, sizeof g_routine);
    else
        std::snprintf(g_routine, sizeof g_routine, "%s", "unknown");
    const char* driverName = driver ? driver->name : "none";
    for (int i = 0; i < count; ++i) describe(frames[i], g_frames[i], sizeof g_frames[i]);

    char when[128] = "";  // room for any value of every field, as the compiler checks
    formatUtc(::time(nullptr), when, sizeof when);

    g_log.add("kernel: *** STOP 0x%08X (0x%llx, 0x%llx, 0x%llx, 0x%llx) %s\n", code,
              static_cast<unsigned long long>(p[0]), static_cast<unsigned long long>(p[1]),
              static_cast<unsigned long long>(p[2]), static_cast<unsigned long long>(p[3]), codeName(code));
    g_log.add("kernel: *** driver %s, routine %s: %s\n", driverName, g_routine, reason);
    for (int i = 0; i < count; ++i) g_log.add("kernel: ***   #%d %s\n", i, g_frames[i]);
    g_log.add("kernel: *** the machine powers off after a bug check\n");
    writeAll(STDERR_FILENO, g_log.data, g_log.used);

    g_json.add("{\"code\":\"0x%08X\",\"name\":", code);
    g_json.addJsonString(codeName(code));
    g_json.add(",\"parameters\":[\"0x%llx\",\"0x%llx\",\"0x%llx\",\"0x%llx\"],\"driver\":",
               static_cast<unsigned long long>(p[0]), static_cast<unsigned long long>(p[1]),
               static_cast<unsigned long long>(p[2]), static_cast<unsigned long long>(p[3]));
    g_json.addJsonString(driverName);
    g_json.add(",\"routine\":");
    g_json.addJsonString(g_routine);
    g_json.add(",\"reason\":");
    g_json.addJsonString(reason);
    g_json.add(",\"time\":\"%s\",\"pid\":%d,\"stack\":[", when, static_cast<int>(::getpid()));
    for (int i = 0; i < count; ++i) {
        if (i) g_json.add(",");
        g_json.addJsonString(g_frames[i]);
    }
    g_json.add("]}\n");
    if (g_crashFile[0]) {
        int fd = ::open(g_crashFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            writeAll(fd, g_json.data, g_json.used);
            ::fsync(fd);
            ::close(fd);
        }
    }
    ::_exit(kBugCheckExitStatus);
}

void onFault(int signal, siginfo_t* info, void* context) {
    ULONG_PTR exception = 0xC0000005;  // access violation
    const char* reason = "access violation";
    if (signal == SIGBUS) exception = 0x80000002, reason = "bus error (misaligned or unbacked memory)";
    if (signal == SIGILL) exception = 0xC000001D, reason = "illegal instruction";
    if (signal == SIGFPE) exception = 0xC0000094, reason = "integer division by zero";
    const void* pc = nullptr;
    ULONG_PTR write = 0;
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    pc = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
    write = (uc->uc_mcontext.gregs[REG_ERR] & 2) ? 1 : 0;
#elif defined(__aarch64__)
    pc = reinterpret_cast<const void*>(static_cast<const ucontext_t*>(context)->uc_mcontext.pc);
#else
    (void)context;
#endif
    const ULONG_PTR p[4] = {exception, reinterpret_cast<ULONG_PTR>(pc), write,
                            reinterpret_cast<ULONG_PTR>(info ? info->si_addr : nullptr)};
    stopMachine(stop::kKmodeExceptionNotHandled, p, reason, pc, nullptr);
}

}  // namespace

DriverCallScope::DriverCallScope(PDRIVER_OBJECT d, const char* r) : driver(d), routine(r), outer(t_call) {
    t_call = this;
}

DriverCallScope::~DriverCallScope() { t_call = outer; }

PDRIVER_OBJECT currentDriver() { return t_call ? t_call->driver : nullptr; }

const char* majorFunctionName(UCHAR major) {
    static const char* const names[] = {
        "IRP_MJ_CREATE", "IRP_MJ_CREATE_NAMED_PIPE", "IRP_MJ_CLOSE", "IRP_MJ_READ", "IRP_MJ_WRITE",
        "IRP_MJ_QUERY_INFORMATION", "IRP_MJ_SET_INFORMATION", "IRP_MJ_QUERY_EA", "IRP_MJ_SET_EA",
        "IRP_MJ_FLUSH_BUFFERS", "IRP_MJ_QUERY_VOLUME_INFORMATION", "IRP_MJ_SET_VOLUME_INFORMATION",
        "IRP_MJ_DIRECTORY_CONTROL", "IRP_MJ_FILE_SYSTEM_CONTROL", "IRP_MJ_DEVICE_CONTROL",
        "IRP_MJ_INTERNAL_DEVICE_CONTROL", "IRP_MJ_SHUTDOWN", "IRP_MJ_LOCK_CONTROL", "IRP_MJ_CLEANUP",
        "IRP_MJ_CREATE_MAILSLOT", "IRP_MJ_QUERY_SECURITY", "IRP_MJ_SET_SECURITY", "IRP_MJ_POWER",
        "IRP_MJ_SYSTEM_CONTROL", "IRP_MJ_DEVICE_CHANGE", "IRP_MJ_QUERY_QUOTA", "IRP_MJ_SET_QUOTA", "IRP_MJ_PNP"};
    return major < std::size(names) ? names[major] : "IRP_MJ_(unknown)";
}

void registerDriverModule(PDRIVER_OBJECT object, const void* addressInModule, const std::string& service) {
    Dl_info info{};
    if (!object || !dladdr(addressInModule, &info)) return;
    std::lock_guard lock(g_modulesMutex);
    for (ModuleEntry& m : g_modules) {
        if (m.object.load()) continue;
        m.base = info.dli_fbase;
        std::snprintf(m.name, sizeof m.name, "%s", service.c_str());
        m.object.store(object);
        return;
    }
}

void unregisterDriverModule(PDRIVER_OBJECT object) {
    std::lock_guard lock(g_modulesMutex);
    for (ModuleEntry& m : g_modules)
        if (m.object.load() == object) m.object.store(nullptr);
}

std::string driverServiceName(PDRIVER_OBJECT object) {
    std::lock_guard lock(g_modulesMutex);
    const ModuleEntry* m = moduleOfObject(object);
    return m ? m->name : std::string();
}

void installFaultHandlers(const std::string& crashFile) {
    std::snprintf(g_crashFile, sizeof g_crashFile, "%s", crashFile.c_str());
    if (g_installed.exchange(true)) return;
    // The unwinder loads on first use; load it now, not in a signal handler.
    void* frame[1];
    ::backtrace(frame, 1);
    struct sigaction action{};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kFaultSignals); ++i) ::sigaction(kFaultSignals[i], &action, &g_previous[i]);
}

void removeFaultHandlers() {
    if (!g_installed.exchange(false)) return;
    for (size_t i = 0; i < std::size(kFaultSignals); ++i) ::sigaction(kFaultSignals[i], &g_previous[i], nullptr);
}

void bugCheck(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4, const char* reason) {
    const ULONG_PTR p[4] = {p1, p2, p3, p4};
    stopMachine(code, p, reason, nullptr, nullptr);
}

void bugCheckFor(PDRIVER_OBJECT driver, ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4,
                 const char* reason) {
    const ULONG_PTR p[4] = {p1, p2, p3, p4};
    stopMachine(code, p, reason, nullptr, driver);
}

PDRIVER_OBJECT driverAt(const void* address) {
    const ModuleEntry* m = moduleOfAddress(address);
    return m ? m->object.load() : nullptr;
}

}  // namespace nt
