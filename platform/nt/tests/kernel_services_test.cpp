// PCI configuration through the HAL, events, counted strings, and power.
#include <ntddk.h>

#include <chrono>
#include <thread>

#include "test_machine.h"

namespace nttest {
namespace {

class KernelServices : public KernelTest {};

TEST_F(KernelServices, PciConfigurationThroughTheHal) {
    PCI_COMMON_CONFIG config{};
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 1, &config, 0, PCI_COMMON_HDR_LENGTH), 64u);
    EXPECT_EQ(config.VendorID, 0x4C58);
    EXPECT_EQ(config.DeviceID, 0x0D15);
    EXPECT_EQ(config.BaseClass, 0x03);
    EXPECT_EQ(config.SubClass, 0x00);
    EXPECT_EQ(config.BaseAddresses[0], 0xE0000008u);
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 0, &config, 0, 64), 64u);
    EXPECT_EQ(config.BaseClass, 0x06);  // the host bridge

    // Sizing the VRAM BAR, then putting it back.
    ULONG ones = 0xFFFFFFFF, size = 0, base = 0xE0000000;
    ASSERT_EQ(HalSetBusDataByOffset(PCIConfiguration, 0, 1, &ones, 0x10, 4), 4u);
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 1, &size, 0x10, 4), 4u);
    EXPECT_EQ(size, 0xFF000008u);  // 16 MiB, prefetchable memory
    HalSetBusDataByOffset(PCIConfiguration, 0, 1, &base, 0x10, 4);
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 1, &size, 0x10, 4), 4u);
    EXPECT_EQ(size, 0xE0000008u);

    USHORT vendor = 0;
    EXPECT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 5, &vendor, 0, 2), 2u);  // empty slot
    EXPECT_EQ(vendor, 0xFFFF);
    EXPECT_EQ(HalGetBusDataByOffset(PCIConfiguration, 9, 0, &config, 0, 64), 0u);  // no such bus
    EXPECT_EQ(HalGetBusDataByOffset(Cmos, 0, 1, &config, 0, 64), 0u);
}

TEST_F(KernelServices, TheDisplayAdapterCanSitOnAnotherBus) {
    kernel_->shutdown();
    kernel_.reset();
    config_.display.bus = 1;
    config_.display.bits = 15;
    boot();
    PCI_SLOT_NUMBER slot{};
    USHORT ids[2] = {};
    for (ULONG device = 0; device < 32; ++device) {
        slot.u.bits.DeviceNumber = device;
        HalGetBusDataByOffset(PCIConfiguration, 0, slot.u.AsULONG, ids, 0, 4);
        EXPECT_TRUE(device == 0 ? ids[0] == 0x4C58 : ids[0] == 0xFFFF) << device;  // only the bridge on bus 0
    }
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 1, 0, ids, 0, 4), 4u);
    EXPECT_EQ(ids[1], 0x0D15);
    EXPECT_EQ(kernel_->displayMode().bits, 15u);
    EXPECT_EQ(kernel_->displayMode().bus, 1u);

    // A second machine cannot run beside this one in the same process.
    nt::BootOptions options;
    std::string error;
    EXPECT_EQ(nt::Kernel::boot(options, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(KernelServices, EventsWaitWithTimeouts) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20 * 10000;  // 20 ms, relative
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    });
    timeout.QuadPart = -5 * 10000000LL;
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    setter.join();
    EXPECT_EQ(KeReadStateEvent(&event), 0);  // a synchronization event resets as it releases a waiter

    KeInitializeEvent(&event, NotificationEvent, TRUE);
    timeout.QuadPart = 0;
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);

    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(KernelServices, CountedStrings) {
    WCHAR storage[16];
    UNICODE_STRING text{0, sizeof storage, storage};
    ASSERT_EQ(RtlAppendUnicodeToString(&text, L"Cap"), STATUS_SUCCESS);
    WCHAR digits[8];
    UNICODE_STRING number{0, sizeof digits, digits};
    ASSERT_EQ(RtlIntegerToUnicodeString(407, 10, &number), STATUS_SUCCESS);
    EXPECT_EQ(number.Length, 3 * sizeof(WCHAR));
    ASSERT_EQ(RtlAppendUnicodeStringToString(&text, &number), STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(storage, text.Length / sizeof(WCHAR)), L"Cap407");
    EXPECT_EQ(RtlAppendUnicodeToString(&text, L"0123456789abcdef"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(text.Length, 6 * sizeof(WCHAR));  // unchanged by the refused append
    ASSERT_EQ(RtlIntegerToUnicodeString(0xBEEF, 16, &number), STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(digits, number.Length / sizeof(WCHAR)), L"BEEF");

    UNICODE_STRING a, b;
    RtlInitUnicodeString(&a, L"\\DosDevices\\HMBServ");
    RtlInitUnicodeString(&b, L"\\dosdevices\\hmbserv");
    EXPECT_TRUE(RtlEqualUnicodeString(&a, &b, TRUE));
    EXPECT_FALSE(RtlEqualUnicodeString(&a, &b, FALSE));

    ANSI_STRING ansi;
    ASSERT_EQ(RtlUnicodeStringToAnsiString(&ansi, &a, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(std::string(ansi.Buffer, ansi.Length), "\\DosDevices\\HMBServ");
    UNICODE_STRING back{};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&back, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_TRUE(RtlEqualUnicodeString(&a, &back, FALSE));
    RtlFreeAnsiString(&ansi);
    RtlFreeUnicodeString(&back);
    EXPECT_EQ(back.Buffer, nullptr);
}

}  // namespace
}  // namespace nttest
