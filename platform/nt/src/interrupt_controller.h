// The machine's interrupt controller: device models drive line levels; one
// system thread delivers asserted lines to the connected service routines,
// each under its interrupt's spin lock at its synchronisation level.
#pragma once

#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "lxmachine/hw/pci_function.h"
#include "ntddk.h"

struct _KINTERRUPT {
    ULONG Vector;
    ULONG Line;
    KIRQL Irql;
    KIRQL SynchronizeIrql;
    KINTERRUPT_MODE Mode;
    BOOLEAN Shared;
    PKSERVICE_ROUTINE ServiceRoutine;
    PVOID ServiceContext;
    KSPIN_LOCK OwnLock;
    PKSPIN_LOCK ActualLock;
};

namespace nt {

class InterruptController final : public lxhw::InterruptSink {
public:
    static constexpr ULONG kLines = 32;
    static constexpr ULONG kVectorBase = 0x30;  // vector = base + line

    InterruptController();
    ~InterruptController() override;
    InterruptController(const InterruptController&) = delete;
    InterruptController& operator=(const InterruptController&) = delete;

    void setLineLevel(const void* source, uint8_t line, bool asserted) override;

    NTSTATUS connect(PKINTERRUPT interrupt);
    // Returns once no service routine of this interrupt runs any more.
    void disconnect(PKINTERRUPT interrupt);

    uint64_t delivered() const;
    uint64_t unclaimed() const;

private:
    void run();

    // Line levels (taken by device threads; never held while a routine runs).
    mutable std::mutex levelMutex_;
    std::condition_variable levelChanged_;
    std::array<std::map<const void*, bool>, kLines> sources_{};
    std::array<bool, kLines> edge_{};  // raised since the last delivery
    bool stopping_ = false;
    uint64_t delivered_ = 0;
    uint64_t unclaimed_ = 0;

    // Connections (held while routines run, so disconnect waits for them).
    std::mutex dispatchMutex_;
    std::array<std::vector<PKINTERRUPT>, kLines> connected_{};
    std::thread thread_;
};

}  // namespace nt
