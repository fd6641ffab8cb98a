// Drivers that fail or fault: a failed DriverEntry leaves nothing behind, and
// a fault or KeBugCheckEx stops the machine with a record naming the driver.
#include <ntddk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
    bool logged(const std::string& part) {
        std::lock_guard lock(logMutex_);
        return std::any_of(log_.begin(), log_.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
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
        install("NtFaulty");
        reboot();
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

TEST_F(DriverFaults, ARequestItsDriverNeverCompletesIsAbandonedWhenItsProcessExits) {
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
