#include "interrupt_controller.h"

#include <algorithm>

#include "irql.h"
#include "log.h"
#include "runtime.h"

namespace nt {

InterruptController::InterruptController() : thread_([this] { run(); }) {}

InterruptController::~InterruptController() {
    {
        std::lock_guard lock(levelMutex_);
        stopping_ = true;
    }
    levelChanged_.notify_all();
    thread_.join();
}

void InterruptController::setLineLevel(const void* source, uint8_t line, bool asserted) {
    if (line >= kLines) return;
    {
        std::lock_guard lock(levelMutex_);
        sources_[line][source] = asserted;
        if (asserted) edge_[line] = true;
    }
    if (asserted) levelChanged_.notify_all();
}

NTSTATUS InterruptController::connect(PKINTERRUPT interrupt) {
    if (interrupt->Line >= kLines) return STATUS_INVALID_PARAMETER;
    {
        std::lock_guard lock(dispatchMutex_);
        auto& list = connected_[interrupt->Line];
        for (PKINTERRUPT other : list) {
            if (!other->Shared || !interrupt->Shared) return STATUS_INVALID_PARAMETER;
        }
        list.push_back(interrupt);
    }
    // A line that was already asserted is delivered now.
    {
        std::lock_guard lock(levelMutex_);
        for (const auto& [source, level] : sources_[interrupt->Line]) {
            if (level) edge_[interrupt->Line] = true;
        }
    }
    levelChanged_.notify_all();
    return STATUS_SUCCESS;
}

void InterruptController::disconnect(PKINTERRUPT interrupt) {
    std::lock_guard lock(dispatchMutex_);
    if (interrupt->Line >= kLines) return;
    auto& list = connected_[interrupt->Line];
    list.erase(std::remove(list.begin(), list.end(), interrupt), list.end());
}

uint64_t InterruptController::delivered() const {
    std::lock_guard lock(levelMutex_);
    return delivered_;
}

uint64_t InterruptController::unclaimed() const {
    std::lock_guard lock(levelMutex_);
    return unclaimed_;
}

// A line is delivered when it was raised; it is delivered again while it
// stays asserted and a routine claimed it (level-triggered). An asserted line
// that nobody claims waits for its next raise instead of storming.
void InterruptController::run() {
    std::unique_lock levels(levelMutex_);
    for (;;) {
        levelChanged_.wait(levels, [this] {
            return stopping_ || std::any_of(edge_.begin(), edge_.end(), [](bool e) { return e; });
        });
        if (stopping_) return;
        for (ULONG line = 0; line < kLines; ++line) {
            if (!edge_[line]) continue;
            edge_[line] = false;
            levels.unlock();
            bool claimed = false;
            bool anyConnected = false;
            {
                std::lock_guard dispatch(dispatchMutex_);
                anyConnected = !connected_[line].empty();
                for (PKINTERRUPT interrupt : connected_[line]) {
                    IrqlScope irql(interrupt->SynchronizeIrql);
                    acquireSpinLock(interrupt->ActualLock);
                    BOOLEAN handled = interrupt->ServiceRoutine(interrupt, interrupt->ServiceContext);
                    releaseSpinLock(interrupt->ActualLock);
                    if (handled) claimed = true;
                }
            }
            levels.lock();
            if (anyConnected) ++delivered_;
            if (!claimed && anyConnected) ++unclaimed_;
            bool stillAsserted = std::any_of(sources_[line].begin(), sources_[line].end(),
                                             [](const auto& s) { return s.second; });
            if (claimed && stillAsserted) edge_[line] = true;
        }
    }
}

}  // namespace nt

using namespace nt;

extern "C" {

NTSTATUS IoConnectInterrupt(PKINTERRUPT* InterruptObject, PKSERVICE_ROUTINE ServiceRoutine, PVOID ServiceContext,
                            PKSPIN_LOCK SpinLock, ULONG Vector, KIRQL Irql, KIRQL SynchronizeIrql,
                            KINTERRUPT_MODE InterruptMode, BOOLEAN ShareVector, KAFFINITY, BOOLEAN) {
    Runtime* rt = runtime();
    if (!InterruptObject || !ServiceRoutine) return STATUS_INVALID_PARAMETER;
    *InterruptObject = nullptr;
    if (!rt || !rt->interrupts) return STATUS_INVALID_DEVICE_STATE;
    if (Vector < InterruptController::kVectorBase ||
        Vector >= InterruptController::kVectorBase + InterruptController::kLines || SynchronizeIrql < Irql)
        return STATUS_INVALID_PARAMETER;
    auto* interrupt = new _KINTERRUPT{};
    interrupt->Vector = Vector;
    interrupt->Line = Vector - InterruptController::kVectorBase;
    interrupt->Irql = Irql;
    interrupt->SynchronizeIrql = SynchronizeIrql;
    interrupt->Mode = InterruptMode;
    interrupt->Shared = ShareVector;
    interrupt->ServiceRoutine = ServiceRoutine;
    interrupt->ServiceContext = ServiceContext;
    interrupt->OwnLock = 0;
    interrupt->ActualLock = SpinLock ? SpinLock : &interrupt->OwnLock;
    NTSTATUS status = rt->interrupts->connect(interrupt);
    if (!NT_SUCCESS(status)) {
        delete interrupt;
        return status;
    }
    *InterruptObject = interrupt;
    return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject) {
    if (!InterruptObject) return;
    if (Runtime* rt = runtime(); rt && rt->interrupts) rt->interrupts->disconnect(InterruptObject);
    delete InterruptObject;
}

BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                               PVOID SynchronizeContext) {
    IrqlScope irql(std::max(currentIrql(), Interrupt->SynchronizeIrql));
    acquireSpinLock(Interrupt->ActualLock);
    BOOLEAN result = SynchronizeRoutine(SynchronizeContext);
    releaseSpinLock(Interrupt->ActualLock);
    return result;
}

KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt) {
    KIRQL old = currentIrql();
    setCurrentIrql(std::max(old, Interrupt->SynchronizeIrql));
    acquireSpinLock(Interrupt->ActualLock);
    return old;
}

VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql) {
    releaseSpinLock(Interrupt->ActualLock);
    setCurrentIrql(OldIrql);
}

}  // extern "C"
