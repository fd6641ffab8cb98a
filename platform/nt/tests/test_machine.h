// What the kernel tests share: a fake user process that maps machine memory
// itself, the test PCI function, and a fixture that boots a private machine
// with the test driver installed.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lxmachine/hw/pci_function.h"
#include "nt/kernel_host.h"
#include "nt/ntdef.h"
#include "test_device_protocol.h"

namespace nttest {

// A process whose views are mmaps of the machine's memfds in the test itself,
// so a test can look at what a driver mapped.
class FakeProcess final : public nt::UserProcess {
public:
    FakeProcess(uint32_t pid, std::vector<nt::MemoryRegion> regions) : pid_(pid), regions_(std::move(regions)) {}
    ~FakeProcess() override;
    uint32_t processId() const override { return pid_; }
    uint64_t mapPhysical(uint64_t physical, uint64_t length) override;
    bool unmapView(uint64_t userAddress) override;
    uint64_t physicalAddressOf(uint64_t userAddress) const override;
    size_t views() const;

private:
    struct View {
        uint64_t physical;
        uint64_t length;
    };
    const uint32_t pid_;
    const std::vector<nt::MemoryRegion> regions_;
    mutable std::mutex mutex_;
    std::map<uint64_t, View> views_;
};

// The test PCI function: registers in BAR 0, ports in BAR 1, an interrupt.
class TestFunction final : public lxhw::PciFunction {
public:
    TestFunction();
    std::string kind() const override { return "nttest"; }
    uint32_t barRead(int bar, uint64_t offset, unsigned size) override;
    void barWrite(int bar, uint64_t offset, unsigned size, uint32_t value) override;

private:
    std::mutex mutex_;
    uint32_t scratch_ = 0;
    uint32_t status_ = 0;
    uint32_t reads_ = 0;
    uint8_t port_ = 0;
};

extern const nt::Guid kTestInterfaceGuid;

// A wait request of the test driver running on a thread of its own; its
// result is there once join() returned (the destructor joins too).
struct PendingWait {
    std::atomic<nt::NTSTATUS> status{STATUS_PENDING};
    std::atomic<uint32_t> count{0};
    std::atomic<uint32_t> information{99};
    std::thread thread;

    void join() {
        if (thread.joinable()) thread.join();
    }
    ~PendingWait() { join(); }
};

// Names the directory inside which a death test's child makes its own.
inline constexpr const char* kScratchParentVariable = "LX_NT_TEST_SCRATCH_PARENT";

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Boots (again) with the same registry file.
    void boot();
    // Installs the test driver's PnP service and plugs a test function; returns its device number.
    uint32_t plugTestDevice();
    nt::NTSTATUS ioctl(nt::UserProcess& process, uint64_t handle, uint32_t code, const void* in, uint32_t inLength,
                       void* out, uint32_t outLength, uint32_t* information = nullptr);
    Counts counts(uint64_t handle);
    uint64_t open(const std::string& path);
    // Sends a wait request on `handle` from a new thread.
    std::unique_ptr<PendingWait> startWait(nt::UserProcess& process, uint64_t handle);

    std::string directory_;
    std::string registryFile_;
    lxm::MachineConfig config_;
    std::unique_ptr<nt::Kernel> kernel_;
    std::unique_ptr<FakeProcess> process_;
    std::vector<std::string> log_;
    std::mutex logMutex_;
};

// Polls `condition` for up to ten seconds (the machine may be busy with other tests).
bool eventually(const std::function<bool()>& condition);

std::string driverPath();

}  // namespace nttest
