#include "verifier.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "bug_check.h"

namespace nt::verifier {
namespace {

std::atomic<bool> g_enabled{false};

struct Owned {
    PDRIVER_OBJECT driver;
    size_t size;
};

std::mutex g_mutex;
std::unordered_map<const void*, Owned> g_pool, g_mdls;
std::unordered_map<PIRP, PDEVICE_OBJECT> g_inFlight;

std::unordered_map<const void*, Owned>& table(Resource kind) { return kind == Resource::Pool ? g_pool : g_mdls; }

}  // namespace

bool enabled() { return g_enabled.load(std::memory_order_relaxed); }

void enable(bool on) {
    g_enabled = on;
    std::lock_guard lock(g_mutex);
    g_pool.clear();
    g_mdls.clear();
    g_inFlight.clear();
}

void allocated(Resource kind, const void* block, size_t size, const void* caller) {
    if (!enabled() || !block) return;
    PDRIVER_OBJECT driver = driverAt(caller);
    if (!driver) return;
    std::lock_guard lock(g_mutex);
    table(kind)[block] = Owned{driver, size};
}

void freed(Resource kind, const void* block) {
    if (!enabled() || !block) return;
    std::lock_guard lock(g_mutex);
    table(kind).erase(block);
}

void checkUnload(PDRIVER_OBJECT driver, const std::string& service) {
    if (!enabled()) return;
    size_t poolBytes = 0, poolBlocks = 0, mdls = 0;
    {
        std::lock_guard lock(g_mutex);
        for (const auto& [block, owned] : g_pool)
            if (owned.driver == driver) poolBytes += owned.size, ++poolBlocks;
        for (const auto& [block, owned] : g_mdls)
            if (owned.driver == driver) ++mdls;
    }
    static thread_local char reason[160];
    if (poolBlocks) {
        std::snprintf(reason, sizeof reason, "driver %s is unloading with %zu pool blocks (%zu bytes) not freed",
                      service.c_str(), poolBlocks, poolBytes);
        bugCheckFor(driver, stop::kDriverVerifierDetectedViolation, stop::kPoolLeftAtUnload, poolBytes, poolBlocks, 0,
                    reason);
    }
    if (mdls) {
        std::snprintf(reason, sizeof reason, "driver %s is unloading with %zu MDLs not freed", service.c_str(), mdls);
        bugCheckFor(driver, stop::kDriverVerifierDetectedViolation, stop::kMdlsLeftAtUnload, mdls, 0, 0, reason);
    }
}

void sent(PIRP irp, PDEVICE_OBJECT device) {
    if (!enabled()) return;
    std::lock_guard lock(g_mutex);
    g_inFlight[irp] = device;
}

void finished(PIRP irp) {
    if (!enabled()) return;
    std::lock_guard lock(g_mutex);
    g_inFlight.erase(irp);
}

std::vector<StackMember> stackOf(PDEVICE_OBJECT pdo) {
    std::vector<StackMember> stack;
    for (PDEVICE_OBJECT d = pdo; d; d = d->AttachedDevice) stack.push_back({d, d->DriverObject});
    return stack;
}

void checkNothingPending(const std::vector<StackMember>& stack) {
    if (!enabled()) return;
    PIRP pending = nullptr;
    const StackMember* holder = nullptr;
    {
        std::lock_guard lock(g_mutex);
        for (const auto& [irp, target] : g_inFlight) {
            for (const StackMember& member : stack) {
                if (member.device == target) pending = irp, holder = &member;
            }
        }
    }
    if (!pending) return;
    bugCheckFor(holder->driver, stop::kDriverVerifierDetectedViolation, stop::kRequestPendingAtRemove,
                reinterpret_cast<ULONG_PTR>(pending), reinterpret_cast<ULONG_PTR>(holder->device), 0,
                "a request was still pending when its device was removed");
}

}  // namespace nt::verifier
