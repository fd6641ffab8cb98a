// Requests from a client process: exclusive open, buffer lengths and codes,
// register access in both window kinds and its bounds, reads and writes;
// removal refused while open, numbering after a removal, surprise removal.
#include <gtest/gtest.h>

#include "audio_client.h"
#include "audio_machine.h"

using namespace heronau_test;

namespace {

class AudioRequests : public ::testing::TestWithParam<int> {};

TEST_P(AudioRequests, RegistersLengthsAndCodes) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    const std::string path = linkPath(GetParam());
    HANDLE audio = openPath(path);
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    // Exclusive: a second open is refused while the first is held.
    EXPECT_EQ(openPath(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), kStatusAccessDenied);

    // Word and byte access land in the window and read back; the record comes back whole.
    AudioRegisterRequest answer{};
    IoResult result = registerIo(audio, AUDIO_REG_WRITE_ULONG, 0x20, 0x11223344, &answer);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.returned, 12u);
    EXPECT_EQ(answer.Operation, AUDIO_REG_WRITE_ULONG);
    EXPECT_EQ(answer.Offset, 0x20u);
    EXPECT_EQ(answer.Value, 0x11223344u);
    EXPECT_TRUE(registerIo(audio, AUDIO_REG_WRITE_BYTE, 0x22, 0x7AB, nullptr).ok);
    uint32_t value = 0;
    EXPECT_TRUE(readUlong(audio, 0x20, &value));
    EXPECT_EQ(value, 0x11AB3344u);
    EXPECT_TRUE(registerIo(audio, AUDIO_REG_READ_BYTE, 0x23, 0xFFFF, &answer).ok);
    EXPECT_EQ(answer.Value, 0x11u);
    // Unknown operations do nothing and return the record.
    result = registerIo(audio, 7, 0x20, 0x55, &answer);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(answer.Operation, 7u);
    EXPECT_EQ(answer.Value, 0x55u);
    EXPECT_TRUE(readUlong(audio, 0x20, &value));
    EXPECT_EQ(value, 0x11AB3344u);
    // A smaller output buffer gets only what fits.
    const AudioRegisterRequest read{AUDIO_REG_READ_ULONG, 0x20, 0};
    uint32_t head[2] = {0xAAAAAAAA, 0xBBBBBBBB};
    result = control(audio, IOCTL_AUDIO_REGISTER_IO, &read, sizeof read, head, 4);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.returned, 4u);
    EXPECT_EQ(head[0], AUDIO_REG_READ_ULONG);
    EXPECT_EQ(head[1], 0xBBBBBBBBu);

    // Outside the window (0x1000 memory, 0x200 ports): refused, nothing touched.
    const uint32_t window = GetParam() == 0 ? 0x1000 : 0x200;
    EXPECT_TRUE(registerIo(audio, AUDIO_REG_WRITE_ULONG, window - 4, 0x5A5A5A5A, nullptr).ok);
    answer = AudioRegisterRequest{};
    result = registerIo(audio, AUDIO_REG_WRITE_ULONG, window - 2, 0x12345678, &answer);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, kStatusInvalidParameter);
    EXPECT_EQ(answer.Value, 0u);
    EXPECT_EQ(registerIo(audio, AUDIO_REG_WRITE_BYTE, window, 1, nullptr).status, kStatusInvalidParameter);
    EXPECT_EQ(registerIo(audio, AUDIO_REG_READ_ULONG, 0xFFFFFFFE, 0, nullptr).status, kStatusInvalidParameter);
    EXPECT_TRUE(readUlong(audio, window - 4, &value));
    EXPECT_EQ(value, 0x5A5A5A5Au);

    // Lengths that do not match, codes that do not exist.
    uint32_t count[2] = {0x77, 0x77};
    result = control(audio, IOCTL_AUDIO_GET_INTERRUPT_COUNT, nullptr, 0, count, 8);
    EXPECT_EQ(result.status, kStatusInvalidParameter);
    EXPECT_EQ(result.returned, 0u);
    EXPECT_EQ(count[0], 0x77u);
    AudioConfig config{};
    EXPECT_EQ(control(audio, IOCTL_AUDIO_SET_CONFIG, &config, sizeof config - 1, nullptr, 0).status,
              kStatusInvalidParameter);
    EXPECT_EQ(control(audio, IOCTL_AUDIO_REGISTER_IO, &config, 8, nullptr, 0).status, kStatusInvalidParameter);
    EXPECT_EQ(control(audio, 0x80002028u, nullptr, 0, nullptr, 0).status, kStatusInvalidDeviceRequest);
    EXPECT_EQ(control(audio, 0x80002008u + 1, nullptr, 0, nullptr, 0).status, kStatusNotSupported);  // direct method
    uint32_t devices = 0;
    result = control(audio, IOCTL_AUDIO_GET_DEVICE_COUNT, nullptr, 0, &devices, sizeof devices);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.returned, 4u);
    EXPECT_EQ(devices, 2u);

    // Reads and writes are queued and refused.
    char buffer[16];
    DWORD transferred = 99;
    EXPECT_FALSE(ReadFile(audio, buffer, sizeof buffer, &transferred, nullptr));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), kStatusNotSupported);
    EXPECT_EQ(transferred, 0u);
    EXPECT_FALSE(WriteFile(audio, buffer, sizeof buffer, &transferred, nullptr));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), kStatusNotSupported);

    EXPECT_TRUE(CloseHandle(audio));
    // Free again once closed.
    audio = openPath(path);
    EXPECT_NE(audio, INVALID_HANDLE_VALUE);
    CloseHandle(audio);
}

INSTANTIATE_TEST_SUITE_P(BothWindows, AudioRequests, ::testing::Values(0, 1));

TEST(AudioRemoval, RefusedWhileOpenAndTheNextDeviceTakesTheNextNumber) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    EXPECT_EQ(interfacePaths().size(), 2u);
    HANDLE audio = openPath(linkPath(0));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    EXPECT_EQ(machine.unplug(1, false), 1);
    // Refused: the handle goes on working.
    uint32_t value = 0xFFFFFFFF;
    EXPECT_TRUE(readUlong(audio, AUDIO_STATUS_REGISTER, &value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(CloseHandle(audio));
    EXPECT_EQ(machine.unplug(1, false), 0);
    EXPECT_EQ(openPath(linkPath(0)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(interfacePaths().size(), 1u);

    // The new function takes the freed slot, so the machine numbers it 1 in
    // bus order; the driver names it HeronAudioCap2: its numbers are never reused.
    const lxm::testing::ToolResult plugged = machine.plug(false);
    EXPECT_EQ(plugged.exitStatus, 0) << plugged.output;
    EXPECT_EQ(plugged.output, "1\n");
    audio = openPath(linkPath(2));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    uint32_t devices = 0;
    EXPECT_TRUE(control(audio, IOCTL_AUDIO_GET_DEVICE_COUNT, nullptr, 0, &devices, sizeof devices).ok);
    EXPECT_EQ(devices, 3u);
    EXPECT_TRUE(registerIo(audio, AUDIO_REG_WRITE_ULONG, 0x40, 0xC0FFEE, nullptr).ok);
    EXPECT_TRUE(readUlong(audio, 0x40, &value));
    EXPECT_EQ(value, 0xC0FFEEu);
    EXPECT_EQ(interfacePaths().size(), 2u);
    CloseHandle(audio);
    EXPECT_EQ(machine.unplug(3, false), 1);  // there are two
}

TEST(AudioRemoval, SurpriseRemovalLeavesNoRequestPending) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    const std::vector<std::string> before = interfacePaths();
    ASSERT_EQ(before.size(), 2u);
    HANDLE audio = openPath(linkPath(1));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    WaitInFlight pending(audio);
    WaitInFlight queued(audio);
    Sleep(200);
    EXPECT_FALSE(pending.done());

    EXPECT_EQ(machine.unplug(2, true), 0);
    ASSERT_TRUE(pending.finish());
    ASSERT_TRUE(queued.finish());
    EXPECT_EQ(pending.status(), kStatusCancelled);
    EXPECT_EQ(queued.status(), kStatusCancelled);
    // The handle is refused from now on, the function no longer offered.
    uint32_t value = 0;
    EXPECT_EQ(registerIo(audio, AUDIO_REG_READ_ULONG, AUDIO_STATUS_REGISTER, 0, nullptr).status,
              kStatusDeviceNotConnected);
    EXPECT_EQ(control(audio, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0).status, kStatusDeviceNotConnected);
    const std::vector<std::string> after = interfacePaths();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], before[0]);
    // The other function still works.
    HANDLE other = openPath(linkPath(0));
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(readUlong(other, AUDIO_CONTROL_REGISTER, &value));
    CloseHandle(other);
    EXPECT_TRUE(CloseHandle(audio));
    EXPECT_EQ(machine.log().find("requests still running after a stop"), std::string::npos);
}

}  // namespace
