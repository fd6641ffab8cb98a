#include "dpc_queue.h"

#include <algorithm>

#include "bug_check.h"
#include "irp.h"
#include "irql.h"
#include "log.h"
#include "runtime.h"

namespace nt {

DpcQueue::DpcQueue() : thread_([this] { run(); }) {}

DpcQueue::~DpcQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool DpcQueue::insert(PKDPC dpc, PVOID argument1, PVOID argument2) {
    std::lock_guard lock(mutex_);
    if (dpc->DpcData != nullptr) return false;  // already queued
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    dpc->DpcData = dpc;
    queue_.push_back(dpc);
    changed_.notify_all();
    return true;
}

bool DpcQueue::remove(PKDPC dpc) {
    std::lock_guard lock(mutex_);
    auto it = std::find(queue_.begin(), queue_.end(), dpc);
    if (it == queue_.end()) return false;
    queue_.erase(it);
    dpc->DpcData = nullptr;
    return true;
}

bool DpcQueue::flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, limit, [this] { return queue_.empty() && !running_; })) return true;
    logStuck("DPC flush", limit);
    return false;
}

bool DpcQueue::flushDriver(PDRIVER_OBJECT driver, std::chrono::milliseconds limit) {
    const auto ofDriver = [driver](PKDEFERRED_ROUTINE routine) {
        return driverAt(reinterpret_cast<const void*>(routine)) == driver;
    };
    std::unique_lock lock(mutex_);
    const bool done = changed_.wait_for(lock, limit, [&] {
        if (running_ && ofDriver(current_)) return false;
        return std::none_of(queue_.begin(), queue_.end(), [&](PKDPC dpc) { return ofDriver(dpc->DeferredRoutine); });
    });
    if (!done) logStuck("unload of driver " + driverServiceName(driver), limit);
    return done;
}

// Names the routine and the driver of the DPC that holds the queue up.
void DpcQueue::logStuck(const std::string& what, std::chrono::milliseconds limit) const {
    const PKDEFERRED_ROUTINE routine = running_ ? current_ : queue_.empty() ? nullptr : queue_.front()->DeferredRoutine;
    const std::string driver = driverServiceName(driverAt(reinterpret_cast<const void*>(routine)));
    klog("%s: the DPC routine %p of driver %s %s after %lld ms; %zu DPCs wait", what.c_str(),
         reinterpret_cast<const void*>(routine), driver.empty() ? "(unknown)" : driver.c_str(),
         running_ ? "still runs" : "has not run", static_cast<long long>(limit.count()), queue_.size());
}

void DpcQueue::run() {
    setCurrentIrql(DISPATCH_LEVEL);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping and drained
        PKDPC dpc = queue_.front();
        queue_.pop_front();
        // Taken off the queue before it runs, so the routine may queue it again.
        PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
        PVOID context = dpc->DeferredContext, a1 = dpc->SystemArgument1, a2 = dpc->SystemArgument2;
        dpc->DpcData = nullptr;
        running_ = true;
        current_ = routine;
        lock.unlock();
        routine(dpc, context, a1, a2);
        setCurrentIrql(DISPATCH_LEVEL);
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace nt

using namespace nt;

extern "C" {

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
    Dpc->Type = 19;
    Dpc->Importance = 1;
    Dpc->Number = 0;
    Dpc->DpcListEntry.Flink = Dpc->DpcListEntry.Blink = nullptr;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
    Dpc->SystemArgument1 = Dpc->SystemArgument2 = nullptr;
    Dpc->DpcData = nullptr;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
    Runtime* rt = runtime();
    if (!rt || !rt->dpcs) return FALSE;
    return rt->dpcs->insert(Dpc, SystemArgument1, SystemArgument2) ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
    Runtime* rt = runtime();
    return rt && rt->dpcs && rt->dpcs->remove(Dpc) ? TRUE : FALSE;
}

VOID KeFlushQueuedDpcs(void) {
    Runtime* rt = runtime();
    if (rt && rt->dpcs) rt->dpcs->flush(driverWaitLimit());
}

}  // extern "C"
