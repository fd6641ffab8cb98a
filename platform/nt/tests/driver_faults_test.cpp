// Drivers that fail or fault: a failed DriverEntry leaves nothing behind, and
// a fault or KeBugCheckEx stops the machine with a record naming the driver.
#include <ntddk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "faulty_driver_protocol.h"
#include "test_machine.h"

namespace nttest {
namespace {

std::vector<uint8_t> dword(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::vector<uint8_t> utf16(const std::string& s) {
    std::vector<uint8_t> out;
    for (char c : s) out.insert(out.end(), {uint8_t(c), 0});
    out.insert(out.end(), {0, 0});
    return out;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Bounds short enough for tests of drivers that never answer.
constexpr uint32_t kShortWaitMs = 300;

class DriverFaults : public KernelTest {
protected:
    // Installs the faulty driver under `service`, started at boot.
    void install(const std::string& service) {
        const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + service;
        ASSERT_TRUE(kernel_->registrySet(key, "Type", 4, dword(1)));
        ASSERT_TRUE(kernel_->registrySet(key, "Start", 4, dword(1)));
        ASSERT_TRUE(kernel_->registrySet(key, "ImagePath", 1, utf16(LX_NT_FAULTY_DRIVER)));
    }
    void reboot() {
        process_.reset();
        kernel_->shutdown();
        kernel_.reset();
        boot();
    }
    // Also serves the test PCI function (the driver loads when it is plugged in).
    void installPnp(const std::string& service) {
        install(service);
        const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + service;
        std::vector<uint8_t> ids = utf16("pci\\ven_4c58&dev_7e57");
        ids.insert(ids.end(), {0, 0});
        ASSERT_TRUE(kernel_->registrySet(key, "HardwareIds", 7, ids));
    }
    uint32_t plug() {
        uint32_t device = 0;
        EXPECT_TRUE(kernel_->plugFunction(std::make_shared<TestFunction>(), 1, 4, &device));
        return device;
    }
    bool logged(const std::string& part) { return loggedTimes(part) > 0; }
    size_t loggedTimes(const std::string& part) {
        std::lock_guard lock(logMutex_);
        return std::count_if(log_.begin(), log_.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
    }
    uint32_t pendingIn(uint64_t handle) {
        uint32_t count = 0;
        ioctl(*process_, handle, kFaultPendingCount, nullptr, 0, &count, sizeof count);
        return count;
    }
    // Opens the faulty driver's device and sends one control code.
    void send(uint32_t code) {
        uint64_t handle = open(kFaultyDeviceLink);
        ioctl(*process_, handle, code, nullptr, 0, nullptr, 0);
    }
};

TEST_F(DriverFaults, AFailedDriverEntryLeavesNoDeviceOrLinkBehind) {
    install("NtFaultyEntry");
    // Loaded after the failed one: it creates the same device and link names.
    install("NtLaterFaulty");
    reboot();

    const std::string status = kernel_->statusJson();
    EXPECT_NE(status.find("{\"name\":\"NtFaultyEntry\",\"error\":\"DriverEntry failed with 0xC0000182\"}"),
              std::string::npos)
        << status;
    EXPECT_TRUE(logged("driver NtFaultyEntry left the symbolic link \\??\\ntfaulty behind"));
    EXPECT_TRUE(logged("driver NtFaultyEntry left the device \\Device\\NtFaulty behind"));
    // The names were free again for the next driver, and requests reach it.
    EXPECT_NE(status.find("{\"name\":\"NtLaterFaulty\""), std::string::npos) << status;
    uint64_t handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);

    // Alone, the failed driver leaves nothing a request could reach.
    ASSERT_TRUE(kernel_->registrySet("SYSTEM\\CurrentControlSet\\Services\\NtLaterFaulty", "Start", 4, dword(4)));
    reboot();
    uint64_t none = 0;
    EXPECT_EQ(kernel_->createFile(*process_, kFaultyDeviceLink, &none), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(kernel_->createFile(*process_, "\\Device\\NtFaulty", &none), STATUS_OBJECT_NAME_NOT_FOUND);
}

class DriverFaultsDeathTest : public DriverFaults {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        DriverFaults::SetUp();
        ::setenv(kScratchParentVariable, directory_.c_str(), 1);
        install("NtFaulty");
        reboot();
    }
    void TearDown() override {
        ::unsetenv(kScratchParentVariable);
        DriverFaults::TearDown();
    }
};

TEST_F(DriverFaultsDeathTest, ANullDereferenceIsABugCheckNamingTheDriverAndRoutine) {
    EXPECT_EXIT(send(kFaultNullDereference), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x0000001E \\(0xc0000005, 0x[0-9a-f]+, 0x1, 0x0\\) KMODE_EXCEPTION_NOT_HANDLED\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: access violation\n"
                "kernel: \\*\\*\\*   #0 ");
}

TEST_F(DriverFaultsDeathTest, KeBugCheckExStopsWithTheDriversCodeAndParameters) {
    EXPECT_EXIT(send(kFaultBugCheck), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x000000E2 \\(0x11, 0x22, 0x33, 0x44\\) MANUALLY_INITIATED_CRASH\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: the driver called KeBugCheckEx");
}

// The verifier is on in every test machine.
TEST_F(DriverFaultsDeathTest, TheVerifierCatchesARequestCompletedTwice) {
    EXPECT_EXIT(send(kFaultCompleteTwice), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x00000044 \\(0x[0-9a-f]+, 0x0, 0x0, 0x0\\) MULTIPLE_IRP_COMPLETE_REQUESTS\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: a request was completed twice");
}

TEST_F(DriverFaultsDeathTest, TheVerifierCatchesASpinLockTakenAtTheWrongIrql) {
    EXPECT_EXIT(send(kFaultSpinLockAtPassive), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x000000C4 \\(0x1, 0x[0-9a-f]+, 0x0, 0x2\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: a spin lock was acquired at "
                "DPC level from below dispatch level");
}

TEST_F(DriverFaultsDeathTest, ASpinLockTakenAgainByItsHolderIsABugCheckNotADeadlock) {
    EXPECT_EXIT(send(kFaultSpinLockReentered), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x000000C4 \\(0x2, 0x[0-9a-f]+, 0x0, 0x0\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: a spin lock was acquired again");
}

TEST_F(DriverFaultsDeathTest, TheVerifierCatchesAWaitAtDispatchLevel) {
    EXPECT_EXIT(send(kFaultWaitAtDispatch), ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
                "STOP 0x000000C4 \\(0x4, 0x[0-9a-f]+, 0x2, 0x0\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
                "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: a wait with a timeout at "
                "dispatch level");
}

TEST_F(DriverFaultsDeathTest, TheVerifierCatchesPoolLeftAtUnload) {
    // Freed pool is fine; the block the driver keeps is found at unload.
    EXPECT_EXIT(
        {
            send(kFaultLeakPool);
            kernel_->shutdown();
        },
        ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
        "STOP 0x000000C4 \\(0x62, 0x1000, 0x1, 0x0\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
        "kernel: \\*\\*\\* driver NtFaulty, routine DriverUnload: driver NtFaulty is unloading with 1 pool "
        "blocks \\(4096 bytes\\) not freed");
}

// The child of a death test writes its bug check's record where the parent reads it.
class CrashRecord {
public:
    explicit CrashRecord(const std::string& directory) : path_(directory + "/crash.json") {
        ::setenv("LX_NT_TEST_CRASH_FILE", path_.c_str(), 1);
    }
    ~CrashRecord() { ::unsetenv("LX_NT_TEST_CRASH_FILE"); }
    std::string text() const { return fileText(path_); }

private:
    std::string path_;
};

TEST_F(DriverFaultsDeathTest, TheVerifierCatchesMdlsLeftAtUnload) {
    CrashRecord record(directory_);
    EXPECT_EXIT(
        {
            send(kFaultLeakMdl);
            kernel_->shutdown();
        },
        ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
        "STOP 0x000000C4 \\(0x63, 0x1, 0x0, 0x0\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
        "kernel: \\*\\*\\* driver NtFaulty, routine DriverUnload: driver NtFaulty is unloading with 1 MDLs not freed");
    const std::string text = record.text();
    EXPECT_NE(text.find("{\"code\":\"0x000000C4\",\"name\":\"DRIVER_VERIFIER_DETECTED_VIOLATION\",\"parameters\":"
                        "[\"0x63\",\"0x1\",\"0x0\",\"0x0\"],\"driver\":\"NtFaulty\",\"routine\":\"DriverUnload\""),
              std::string::npos)
        << text;
}

TEST_F(DriverFaultsDeathTest, TheVerifierCatchesARequestPendingWhenItsDeviceIsRemoved) {
    installPnp("NtFaulty");  // the driver already loaded serves the device too
    const uint32_t device = plug();
    CrashRecord record(directory_);
    EXPECT_EXIT(
        {
            const uint64_t handle = open(kFaultyPnpLink);
            std::thread([this, handle] { ioctl(*process_, handle, kFaultPendForever, nullptr, 0, nullptr, 0); })
                .detach();
            eventually([&] { return pendingIn(handle) == 1; });
            kernel_->unplugFunction(1, device, 0, false);
        },
        ::testing::ExitedWithCode(nt::kBugCheckExitStatus),
        "STOP 0x000000C4 \\(0x5, 0x[0-9a-f]+, 0x[0-9a-f]+, 0x0\\) DRIVER_VERIFIER_DETECTED_VIOLATION\n"
        "kernel: \\*\\*\\* driver NtFaulty, routine IRP_MJ_PNP \\(IRP_MN_REMOVE_DEVICE\\): a request was still "
        "pending when its device was removed");
    const std::string text = record.text();
    EXPECT_NE(text.find("\"parameters\":[\"0x5\","), std::string::npos) << text;
    EXPECT_NE(text.find("\"driver\":\"NtFaulty\",\"routine\":\"IRP_MJ_PNP (IRP_MN_REMOVE_DEVICE)\""),
              std::string::npos)
        << text;
}

// Each wait on a driver that never answers ends after its bound: the request
// is logged with the driver and abandoned, and the machine goes on.
TEST_F(DriverFaults, CleanupAndCloseItsDriverNeverCompletesAreGivenUpAfterTheBound) {
    config_.kernel.driverTimeoutMs = kShortWaitMs;
    install("NtFaultyStuck");
    reboot();
    uint64_t handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);
    EXPECT_TRUE(logged("driver NtFaultyStuck did not complete IRP_MJ_CLEANUP (minor 0x00, IRP "));
    EXPECT_TRUE(logged("driver NtFaultyStuck did not complete IRP_MJ_CLOSE (minor 0x00, IRP "));
    EXPECT_EQ(loggedTimes(") in 300 ms; the request is abandoned"), 2u);
    // Its device still serves, and the machine powers off and on.
    handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    reboot();
    EXPECT_EQ(loggedTimes(") in 300 ms; the request is abandoned"), 4u);  // that file's, closed at power-off
    handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
}

// With the verifier on these would be requests pending at remove.
TEST_F(DriverFaults, PnpAndPowerRequestsItsDriverNeverCompletesAreGivenUpAfterTheBound) {
    const std::string kStarted = "\"driver\":\"NtFaultyStuck\",\"state\":\"started\"";
    config_.kernel.verifier = false;
    config_.kernel.driverTimeoutMs = kShortWaitMs;
    installPnp("NtFaultyStuck");
    reboot();
    const uint32_t device = plug();
    ASSERT_NE(kernel_->statusJson().find(kStarted), std::string::npos) << kernel_->statusJson();
    // A safe removal: the remove request is given up, the device goes.
    EXPECT_TRUE(kernel_->unplugFunction(1, device, 0, false));
    EXPECT_TRUE(logged("driver NtFaultyStuck did not complete IRP_MJ_PNP (minor 0x02, IRP "));
    reboot();  // the device object the driver kept goes with it
    // Power-off with a device started: the power request is given up, then its remove.
    plug();
    ASSERT_NE(kernel_->statusJson().find(kStarted), std::string::npos) << kernel_->statusJson();
    reboot();
    EXPECT_TRUE(logged("driver NtFaultyStuck did not complete IRP_MJ_POWER (minor 0x02, IRP "));
    EXPECT_EQ(loggedTimes("driver NtFaultyStuck did not complete IRP_MJ_PNP (minor 0x02, IRP "), 2u);
    EXPECT_EQ(loggedTimes(") in 300 ms; the request is abandoned"), 3u);
    // The machine came back and takes the card again.
    plug();
    EXPECT_NE(kernel_->statusJson().find(kStarted), std::string::npos) << kernel_->statusJson();
}

TEST_F(DriverFaults, ADpcThatDoesNotEndIsGivenUpByItsFlushAndKeepsItsDriversCode) {
    config_.kernel.driverTimeoutMs = kShortWaitMs;
    install("NtFaulty");
    reboot();
    uint64_t handle = open(kFaultyDeviceLink);
    ASSERT_EQ(ioctl(*process_, handle, kFaultQueueLongDpc, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    // The driver's KeFlushQueuedDpcs returns after the bound, naming the routine's driver.
    EXPECT_EQ(ioctl(*process_, handle, kFaultFlushDpcs, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_TRUE(logged("DPC flush: the DPC routine ")) << "no flush given up";
    EXPECT_TRUE(logged(" of driver NtFaulty still runs after 300 ms"));
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);
    // Power-off completes while the routine runs; the module it runs in stays.
    reboot();
    EXPECT_TRUE(logged("unload of driver NtFaulty: the DPC routine "));
    EXPECT_TRUE(logged("driver NtFaulty unloaded; its code stays for its DPC routine"));
    handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
}

TEST_F(DriverFaults, ARequestItsDriverNeverCompletesIsAbandonedWhenItsProcessExits) {
    config_.kernel.driverTimeoutMs = kShortWaitMs;
    install("NtFaulty");
    reboot();
    uint64_t handle = open(kFaultyDeviceLink);
    std::atomic<nt::NTSTATUS> status{STATUS_PENDING};
    std::thread caller([&] { status = ioctl(*process_, handle, kFaultPendForever, nullptr, 0, nullptr, 0); });
    // Not cancelable either: after the exit's drain time the caller stops waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kernel_->processExited(*process_);
    caller.join();
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_TRUE(logged("process 100: driver NtFaulty never completed IRP_MJ_DEVICE_CONTROL (IRP "));
    EXPECT_TRUE(logged("after cancellation; the request is abandoned"));
    // The machine still serves others and powers off.
    FakeProcess other(101, kernel_->memoryRegions());
    uint64_t second = 0;
    ASSERT_EQ(kernel_->createFile(other, kFaultyDeviceLink, &second), STATUS_SUCCESS);
    EXPECT_EQ(ioctl(other, second, kFaultEcho, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(kernel_->closeFile(other, second), STATUS_SUCCESS);
}

TEST_F(DriverFaults, WithoutTheVerifierAWaitAtDispatchLevelIsOnlyLogged) {
    config_.kernel.verifier = false;
    install("NtFaulty");
    reboot();
    uint64_t handle = open(kFaultyDeviceLink);
    EXPECT_EQ(ioctl(*process_, handle, kFaultWaitAtDispatch, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_TRUE(logged("KeWaitForSingleObject: waiting at dispatch level"));
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);
}

}  // namespace
}  // namespace nttest
