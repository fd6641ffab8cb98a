// PnP: start with resources, capabilities, interrupts and DPCs, safe and
// surprise removal.
#include <ntddk.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "test_machine.h"

namespace nttest {
namespace {

class Pnp : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        device_ = plugTestDevice();
    }
    bool deviceListed() { return kernel_->statusJson().find("\"deviceId\":\"0x7E57\"") != std::string::npos; }
    uint32_t device_ = 0;
};

TEST_F(Pnp, StartHandsOverResourcesAndTheSlot) {
    EXPECT_EQ(device_, 4u);
    const std::string status = kernel_->statusJson();
    EXPECT_NE(status.find("\"bus\":1,\"device\":4,\"function\":0,\"vendor\":\"0x4C58\",\"deviceId\":\"0x7E57\""),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("\"driver\":\"NtTest\",\"state\":\"started\""), std::string::npos) << status;
    EXPECT_NE(status.find("{\"name\":\"NtTest\""), std::string::npos);

    uint64_t handle = open("\\\\.\\NtTest0");
    SlotRecord slot{};
    ASSERT_EQ(ioctl(*process_, handle, kIoctlSlot, nullptr, 0, &slot, sizeof slot), STATUS_SUCCESS);
    EXPECT_EQ(slot.device, 4u);
    EXPECT_EQ(slot.function, 0u);
    EXPECT_EQ(slot.bus, 1u);
    EXPECT_EQ(slot.uiNumber, 4u);

    // The driver loaded through its service key wrote what it read there.
    std::vector<uint8_t> data;
    uint32_t type = 0;
    ASSERT_TRUE(kernel_->registryQuery("SYSTEM\\CurrentControlSet\\Services\\NtTest\\Parameters", "Loaded", &type, &data));
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 0, 0, 0}));
    kernel_->closeFile(*process_, handle);
}

TEST_F(Pnp, AnInterruptRunsTheServiceRoutineThenTheDpc) {
    uint64_t handle = open("\\\\.\\NtTest0");
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(*process_, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    const uint32_t raise[2] = {kRegIrqRaise, 0x24};
    ASSERT_EQ(ioctl(*process_, observer, kIoctlRegWrite, raise, 8, nullptr, 0), STATUS_SUCCESS);
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_SUCCESS);
    EXPECT_EQ(waiter->count.load(), 1u);
    Counts c = counts(observer);
    EXPECT_EQ(c.interrupts, 1u);
    EXPECT_TRUE(eventually([&] { return counts(observer).dpcs == 1; }));
    EXPECT_EQ(c.lastStatus, 0x24u);
    uint32_t offset = kRegIrqStatus, value = 99;
    ASSERT_EQ(ioctl(*process_, observer, kIoctlRegRead, &offset, 4, &value, 4), STATUS_SUCCESS);
    EXPECT_EQ(value, 0u);  // acknowledged by the ISR
    kernel_->closeFile(*process_, handle);
    kernel_->closeFile(*process_, observer);
}

TEST_F(Pnp, SafeRemovalIsRefusedWhileAHandleIsOpen) {
    uint64_t handle = open("\\\\.\\NtTest0");
    EXPECT_FALSE(kernel_->unplugFunction(1, device_, 0, false));
    // Cancel-remove put it back in service.
    uint8_t in = 1, out = 0;
    EXPECT_EQ(ioctl(*process_, handle, kIoctlEcho, &in, 1, &out, 1), STATUS_SUCCESS);
    EXPECT_TRUE(deviceListed());
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);

    EXPECT_TRUE(kernel_->unplugFunction(1, device_, 0, false));
    EXPECT_FALSE(deviceListed());
    EXPECT_TRUE(kernel_->interfacePaths(kTestInterfaceGuid).empty());
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NtTest0", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    // The driver served no device any more and was unloaded; its DbgPrint reached the machine's log.
    EXPECT_EQ(kernel_->statusJson().find("{\"name\":\"NtTest\""), std::string::npos);
    {
        std::lock_guard lock(logMutex_);
        EXPECT_NE(std::find(log_.begin(), log_.end(), "NtTest: unloaded after 1 devices"), log_.end());
    }
    EXPECT_FALSE(kernel_->unplugFunction(1, device_, 0, false));

    // Plugged again, the driver is loaded afresh: its instance counter starts over.
    uint32_t device = 0;
    ASSERT_TRUE(kernel_->plugFunction(std::make_shared<TestFunction>(), 1, 4, &device));
    EXPECT_EQ(device, 4u);
    handle = open("\\\\.\\NtTest0");
    kernel_->closeFile(*process_, handle);
}

TEST_F(Pnp, AStopReleasesTheHardwareAndARefusalIsCancelled) {
    uint64_t handle = open("\\\\.\\NtTest0");
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(*process_, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    EXPECT_FALSE(kernel_->stopFunction(1, device_, 0));  // refused: cancel-stop keeps it running
    const uint32_t raise[2] = {kRegIrqRaise, 1};
    ASSERT_EQ(ioctl(*process_, observer, kIoctlRegWrite, raise, 8, nullptr, 0), STATUS_SUCCESS);
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_SUCCESS);

    ASSERT_TRUE(kernel_->stopFunction(1, device_, 0));
    EXPECT_NE(kernel_->statusJson().find("\"state\":\"stopped\""), std::string::npos);
    uint32_t offset = kRegId, value = 0;
    EXPECT_EQ(ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4), STATUS_INVALID_PARAMETER);
    uint64_t refused = 0;
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NtTest0", &refused), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(kernel_->stopFunction(1, device_, 0));

    ASSERT_TRUE(kernel_->startFunction(1, device_, 0));
    ASSERT_EQ(ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4), STATUS_SUCCESS);
    EXPECT_EQ(value, kIdValue);
    EXPECT_FALSE(kernel_->startFunction(1, device_, 0));  // already started
    kernel_->closeFile(*process_, handle);
    kernel_->closeFile(*process_, observer);
}

TEST_F(Pnp, SurpriseRemovalCompletesOutstandingRequests) {
    uint64_t handle = open("\\\\.\\NtTest0");
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(*process_, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    EXPECT_TRUE(kernel_->unplugFunction(1, device_, 0, true));
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_DELETE_PENDING);
    // The handles stay valid but the device is gone for them.
    Counts c{};
    EXPECT_EQ(ioctl(*process_, observer, kIoctlCounts, nullptr, 0, &c, sizeof c), STATUS_DELETE_PENDING);
    EXPECT_TRUE(kernel_->interfacePaths(kTestInterfaceGuid).empty());
    EXPECT_NE(kernel_->statusJson().find("\"state\":\"surprise-removed\""), std::string::npos);
    // The remove follows the last close.
    kernel_->closeFile(*process_, handle);
    EXPECT_TRUE(deviceListed());
    kernel_->closeFile(*process_, observer);
    EXPECT_TRUE(eventually([&] { return !deviceListed(); }));
}

TEST_F(Pnp, TernCardsArePluggedAndNumberedInBusOrder) {
    EXPECT_EQ(kernel_->plugTernCard(lxm::TernCardConfig{}), 1);
    EXPECT_EQ(kernel_->plugTernCard(lxm::TernCardConfig{}), 2);
    const std::string status = kernel_->statusJson();
    EXPECT_NE(status.find("\"bus\":0,\"device\":8,\"function\":0,\"vendor\":\"0x4C58\",\"deviceId\":\"0x7E2C\""),
              std::string::npos);
    EXPECT_NE(status.find("\"bus\":0,\"device\":9,"), std::string::npos);
    EXPECT_NE(status.find("\"deviceId\":\"0x7E2C\",\"class\":\"0x0400\",\"revision\":\"0x21\",\"kind\":\"terncard\",\"number\":2"),
              std::string::npos)
        << status;
    EXPECT_TRUE(kernel_->unplugTernCard(1, false));
    EXPECT_FALSE(kernel_->unplugTernCard(2, false));  // only one is left: it is card 1 now
    EXPECT_EQ(kernel_->plugTernCard(lxm::TernCardConfig{}), 1);  // slot 8 is free again
    EXPECT_TRUE(kernel_->unplugTernCard(2, true));
}

TEST(TernCardBoot, AnUnusableSourceRefusesTheBootNamingTheFileAndInput) {
    char pattern[] = "/tmp/nt-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    std::filesystem::create_directories(directory + "/pictures");
    std::ofstream(directory + "/pictures/frame1.png") << "not a PNG";
    nt::BootOptions options;
    options.config.ramMb = 64;
    options.config.terncards.resize(2);
    options.config.terncards[1].sources = {"bars", "none", "image:" + directory + "/pictures", "none"};
    options.registryFile = directory + "/registry";
    options.driverDirectory = std::filesystem::path(driverPath()).parent_path();
    std::vector<std::string> log;
    std::mutex logMutex;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    };
    std::string error;
    auto kernel = nt::Kernel::boot(options, &error);
    EXPECT_FALSE(kernel);
    EXPECT_NE(error.find("TernCard 2 input 2: " + directory + "/pictures/frame1.png"), std::string::npos) << error;
    {
        std::lock_guard lock(logMutex);
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(error) != std::string::npos; }));
    }
    if (kernel) kernel->shutdown();
    kernel.reset();
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace nttest
