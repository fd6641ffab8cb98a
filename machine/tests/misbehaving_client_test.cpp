// The daemon against clients that do what no well-behaved program does:
// requests left queued at exit, forged views, oversized or idle frames,
// more of everything than a process may hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <cstring>
#include <iterator>
#include <memory>
#include <thread>

#include "lxmachine/machine_directory.h"

#include "fake_kernel.h"
#include "private_machine.h"
#include "process_stat.h"
#include "raw_client.h"

using namespace lxm::testing;
using lxm::wire::Op;

namespace {

const std::string kTool = LX_FAKE_TOOL;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class MisbehavingClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        machine_ = new PrivateMachine(kTool);
        ASSERT_TRUE(machine_->boot());
    }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }

    // Waits (bounded) until the machine lists no client and no named object.
    static bool eventuallyEmpty(std::string* json) {
        for (int i = 0; i < 500; ++i) {
            *json = machine_->statusJson();
            if (contains(*json, "\"clients\":[]") && contains(*json, "\"namedObjects\":[]")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    static PrivateMachine* machine_;
};
PrivateMachine* MisbehavingClient::machine_ = nullptr;

TEST_F(MisbehavingClient, RequestsQueuedAtExitCreateNothing) {
    for (int round = 0; round < 3; ++round) {
        RawClient client;
        std::string error;
        ASSERT_TRUE(client.attach(machine_->directory(), &error)) << error;
        auto thread = client.addThread(machine_->directory(), &error);
        ASSERT_TRUE(thread) << error;
        // The first one is answered, so the thread is being served when the process ends.
        auto first = client.call(*thread, Op::CreateMapping, RawClient::createMapping("Queued-first-" + std::to_string(round), 4096));
        ASSERT_TRUE(first);
        EXPECT_EQ(first->record.status, 0);
        for (int i = 0; i < 200; ++i) {
            std::string name = "Queued-" + std::to_string(round) + "-" + std::to_string(i);
            ASSERT_TRUE(client.send(*thread, Op::CreateMapping, RawClient::createMapping(name, uint64_t{1} << 32)));
        }
        client.exit();
    }
    std::string json;
    EXPECT_TRUE(eventuallyEmpty(&json)) << countOf(json, "\"kind\":\"mapping\"") << " mappings left";
}

// Waits (bounded) for the daemon's next ring on a channel.
lxm::channel::WaitResult replyRing(lxm::channel::RequestChannel& requests) {
    lxm::channel::WaitResult r = lxm::channel::WaitResult::TimedOut;
    for (int i = 0; i < 40 && r == lxm::channel::WaitResult::TimedOut; ++i)
        r = requests.waitForReply(std::chrono::milliseconds(250), false);
    return r;
}

TEST_F(MisbehavingClient, ABadFrameInAChannelEndsOnlyItsConnection) {
    RawClient client;
    std::string error;
    ASSERT_TRUE(client.attach(machine_->directory(), &error)) << error;
    auto plain = client.addThread(machine_->directory(), &error);
    ASSERT_TRUE(plain) << error;

    // What a channel carries is decoded like a socket frame: a well-formed
    // request is answered in the reply area.
    std::unique_ptr<lxm::channel::RequestChannel> good;
    ASSERT_TRUE(client.addChannelThread(machine_->directory(), &good, &error)) << error;
    auto request = RawClient::deviceIoControl(0x100, 0x222000, {}, 4);
    good->postRequest(Op::DeviceIoControl, 7, request);
    ASSERT_EQ(replyRing(*good), lxm::channel::WaitResult::Rang);
    ASSERT_EQ(good->replyPost(), lxm::channel::Post::InArea);
    lxm::wire::FrameHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(good->takeReply(&header, &payload));
    EXPECT_EQ(header.requestId, 7u);
    EXPECT_EQ(header.opcode, static_cast<uint16_t>(Op::Reply));

    // Each of these ends its own connection: the machine rings Closing and
    // closes the socket.
    const std::vector<std::vector<uint8_t>> bad = {
        {0x4C, 0x58, 0x4D, 0x32, 12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},  // wrong magic
        {0x4C, 0x58, 0x4D, 0x31, 12, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0, 0},  // runs past the area
        {0x4C, 0x58, 0x4D, 0x31, 12, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3},  // short ioctl record
        {0x4C, 0x58, 0x4D, 0x31, 50, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // control op
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        std::unique_ptr<lxm::channel::RequestChannel> requests;
        auto thread = client.addChannelThread(machine_->directory(), &requests, &error);
        ASSERT_TRUE(thread) << error;
        std::memcpy(requests->requestArea().data(), bad[i].data(), bad[i].size());
        requests->ringRequest(lxm::channel::Post::InArea);
        ASSERT_EQ(replyRing(*requests), lxm::channel::WaitResult::Rang) << "frame " << i;
        EXPECT_EQ(requests->replyPost(), lxm::channel::Post::Closing) << "frame " << i;
        lxm::Frame closed;
        EXPECT_EQ(lxm::receiveFrame(client.threadSocket(*thread), &closed, 5000), lxm::IoResult::Closed);
    }

    // An unknown ring ends its connection too.
    std::unique_ptr<lxm::channel::RequestChannel> odd;
    auto oddThread = client.addChannelThread(machine_->directory(), &odd, &error);
    ASSERT_TRUE(oddThread) << error;
    odd->ringRequest(static_cast<lxm::channel::Post>(77));
    ASSERT_EQ(replyRing(*odd), lxm::channel::WaitResult::Rang);
    EXPECT_EQ(odd->replyPost(), lxm::channel::Post::Closing);

    // The rest of the process is served as before.
    auto served = client.call(*plain, Op::DeviceIoControl, request);
    ASSERT_TRUE(served);
    EXPECT_NE(served->record.status, 0);
    good->postRequest(Op::DeviceIoControl, 8, request);
    ASSERT_EQ(replyRing(*good), lxm::channel::WaitResult::Rang);
    ASSERT_EQ(good->replyPost(), lxm::channel::Post::InArea);
    ASSERT_TRUE(good->takeReply(&header, &payload));
    EXPECT_EQ(header.requestId, 8u);
}

// Resident memory of a process, in bytes (0 when unknown).
uint64_t residentBytes(int pid) { return lxtest::processStatusKilobytes(pid, "VmRSS") * 1024; }

// Opens a connection and says hello as the lxmachine tool would; invalid when
// the machine closed it instead of answering.
lxm::UniqueFd controlConnection(const std::string& directory) {
    std::string error;
    lxm::UniqueFd fd = lxm::connectToMachine(directory, &error);
    if (!fd.valid()) return fd;
    lxm::wire::PayloadWriter w;
    w.record(lxm::wire::HelloRecord{lxm::wire::kProtocolVersion, 3, 0, 0, 0});
    lxm::Frame answer;
    if (lxm::sendFrame(fd.get(), Op::Hello, 1, w.data()) != lxm::IoResult::Ok ||
        lxm::receiveFrame(fd.get(), &answer, 10000) != lxm::IoResult::Ok)
        return lxm::UniqueFd();
    return fd;
}

TEST_F(MisbehavingClient, AnAnnouncedPayloadPinsNoMemory) {
    const int daemon = machine_->daemonPid();
    ASSERT_GT(daemon, 0);
    const uint64_t before = residentBytes(daemon);
    ASSERT_GT(before, 0u);
    std::vector<lxm::UniqueFd> connections;
    for (int i = 0; i < 24; ++i) {
        lxm::UniqueFd fd = controlConnection(machine_->directory());
        ASSERT_TRUE(fd.valid());
        // A header announcing the largest payload, then a single byte of it.
        lxm::wire::FrameHeader header{lxm::wire::kMagic, static_cast<uint16_t>(Op::Status), 0, 2,
                                      lxm::wire::kMaxPayload};
        ASSERT_EQ(::write(fd.get(), &header, sizeof header), static_cast<ssize_t>(sizeof header));
        ASSERT_EQ(::write(fd.get(), "x", 1), 1);
        connections.push_back(std::move(fd));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the daemon read what was sent
    const uint64_t after = residentBytes(daemon);
    // 24 buffers of 16 MiB would be 384 MiB; what arrived is 24 bytes.
    EXPECT_LT(after, before + 48 * 1024 * 1024) << "before " << before << ", after " << after;
    EXPECT_EQ(machine_->lxmachine({"status"}).exitStatus, 0);
}

constexpr char kTightLimits[] = R"([limits]
request_bytes = 65536
hello_timeout_ms = 300
threads_per_process = 2
handles_per_process = 6
named_objects_per_process = 4
views_per_process = 3
)";

class TightLimits : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        machine_ = new PrivateMachine(kTool, kTightLimits);
        ASSERT_TRUE(machine_->boot());
    }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(client_.attach(machine_->directory(), &error)) << error;
        auto thread = client_.addThread(machine_->directory(), &error);
        ASSERT_TRUE(thread) << error;
    }
    int32_t create(const std::string& name) {
        auto reply = client_.call(0, Op::CreateMapping, RawClient::createMapping(name, 4096));
        return reply ? reply->record.status : -1;
    }

    static PrivateMachine* machine_;
    RawClient client_;
};
PrivateMachine* TightLimits::machine_ = nullptr;

constexpr int32_t kNotEnoughQuota = 1816;
constexpr int32_t kQuotaExceeded = static_cast<int32_t>(0xC0000044);

TEST_F(TightLimits, ARequestOverTheCapEndsOnlyItsConnection) {
    std::string error;
    auto second = client_.addThread(machine_->directory(), &error);
    ASSERT_TRUE(second) << error;
    std::vector<uint8_t> input(65536, 0x11);
    auto refused = client_.call(0, Op::DeviceIoControl, RawClient::deviceIoControl(0x100, 0x222000, input, 0));
    EXPECT_FALSE(refused) << "status " << refused->record.status;
    // The same request within the cap is served (with an error for the made-up handle).
    input.resize(60000);
    auto served = client_.call(*second, Op::DeviceIoControl, RawClient::deviceIoControl(0x100, 0x222000, input, 0));
    ASSERT_TRUE(served);
    EXPECT_NE(served->record.status, 0);
}

TEST_F(TightLimits, AConnectionThatSaysNoHelloIsClosed) {
    std::string error;
    lxm::UniqueFd silent = lxm::connectToMachine(machine_->directory(), &error);
    ASSERT_TRUE(silent.valid()) << error;
    lxm::Frame frame;
    EXPECT_EQ(lxm::receiveFrame(silent.get(), &frame, 5000), lxm::IoResult::Closed);
}

TEST_F(TightLimits, ThreadsPerProcessAreCapped) {
    std::string error;
    ASSERT_TRUE(client_.addThread(machine_->directory(), &error)) << error;
    EXPECT_FALSE(client_.addThread(machine_->directory(), &error));
    EXPECT_EQ(error, "thread hello refused with status " + std::to_string(kQuotaExceeded));
    // Another process has places of its own.
    RawClient other;
    ASSERT_TRUE(other.attach(machine_->directory(), &error)) << error;
    EXPECT_TRUE(other.addThread(machine_->directory(), &error)) << error;
}

TEST_F(TightLimits, HandlesAndCreatedObjectsPerProcessAreCapped) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(create("Mine-" + std::to_string(i)), 0) << i;
    EXPECT_EQ(create("Mine-4"), kNotEnoughQuota);
    // Opening existing objects takes handles, up to the handle quota.
    EXPECT_EQ(create("Mine-0"), 183);  // ERROR_ALREADY_EXISTS: a fifth handle
    EXPECT_EQ(create("Mine-1"), 183);
    EXPECT_EQ(create("Mine-2"), kNotEnoughQuota);
    std::string json = machine_->statusJson();
    EXPECT_FALSE(contains(json, "Mine-4")) << json;
    // A process at its quota leaves the others alone.
    RawClient other;
    std::string error;
    ASSERT_TRUE(other.attach(machine_->directory(), &error)) << error;
    ASSERT_TRUE(other.addThread(machine_->directory(), &error)) << error;
    auto theirs = other.call(0, Op::CreateMapping, RawClient::createMapping("Theirs", 4096));
    ASSERT_TRUE(theirs);
    EXPECT_EQ(theirs->record.status, 0);
}

TEST_F(TightLimits, ViewsPerProcessAreCapped) {
    ASSERT_EQ(create("Viewed"), 0);
    for (uint64_t i = 0; i < 3; ++i) {
        auto added = client_.call(0, Op::AddView, RawClient::addView(0x10000000 + i * 0x10000, 4096, 0));
        ASSERT_TRUE(added);
        EXPECT_EQ(added->record.status, 0) << i;
    }
    auto refused = client_.call(0, Op::AddView, RawClient::addView(0x20000000, 4096, 0));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->record.status, kNotEnoughQuota);
    auto removed = client_.call(0, Op::RemoveView, RawClient::addView(0x10000000, 0, 0));
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->record.status, 0);
    auto again = client_.call(0, Op::AddView, RawClient::addView(0x20000000, 4096, 0));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->record.status, 0);
}

TEST(ConnectionLimit, OutOfDescriptorsTheDaemonWaitsInsteadOfSpinning) {
    PrivateMachine machine(kTool);
    ASSERT_TRUE(machine.boot());
    const int daemon = machine.daemonPid();
    ASSERT_GT(daemon, 0);
    rlimit original{};
    ASSERT_EQ(::prlimit(daemon, RLIMIT_NOFILE, nullptr, &original), 0);
    rlimit tight{40, original.rlim_max};
    ASSERT_EQ(::prlimit(daemon, RLIMIT_NOFILE, &tight, nullptr), 0);
    // More connections than the daemon has descriptors: the rest wait in the backlog.
    std::vector<lxm::UniqueFd> pending;
    std::string error;
    for (int i = 0; i < 50; ++i) pending.push_back(lxm::connectToMachine(machine.directory(), &error));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t before = lxtest::processCpuTicks(daemon);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const uint64_t used = lxtest::processCpuTicks(daemon) - before;
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    EXPECT_LT(used, static_cast<uint64_t>(perSecond / 4)) << "ticks in one second: " << used;
    ASSERT_EQ(::prlimit(daemon, RLIMIT_NOFILE, &original, nullptr), 0);
    pending.clear();
    // With descriptors back the machine serves again.
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        served = machine.lxmachine({"status"}).exitStatus == 0;
        if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(served);
    EXPECT_TRUE(machine.shutdown());
}

TEST(ConnectionLimit, ConnectionsOverTheCapAreRefusedAndTheRestServed) {
    PrivateMachine machine(kTool, "[limits]\nconnections = 6\n");
    ASSERT_TRUE(machine.boot());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the boot's own connection has ended
    std::vector<lxm::UniqueFd> held;
    int refused = 0;
    for (int i = 0; i < 10; ++i) {
        lxm::UniqueFd fd = controlConnection(machine.directory());
        if (fd.valid())
            held.push_back(std::move(fd));
        else
            ++refused;
    }
    EXPECT_EQ(held.size(), 6u);
    EXPECT_EQ(refused, 4);
    held.clear();
    // Closed connections give their places back.
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        served = machine.lxmachine({"status"}).exitStatus == 0;
        if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(served);
    EXPECT_TRUE(machine.shutdown());
}

}  // namespace

namespace {

const char* kQuickDrain = "[kernel]\ndrain_timeout_ms = 1500\n";

// `lxmachine status` once it exits with `status` and says `words` (when
// given), or its last answer after 5 s.
ToolResult statusWhen(const PrivateMachine& machine, int status, const std::string& words = {}) {
    ToolResult r;
    for (int i = 0; i < 200; ++i) {
        r = machine.lxmachine({"status"});
        if (r.exitStatus == status && (words.empty() || contains(r.output, words))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return r;
}

}  // namespace

TEST(Reboot, ARequestThatNeverFinishesFailsTheRebootAndTheMachineKeepsServing) {
    PrivateMachine machine(kTool, kQuickDrain);
    ASSERT_TRUE(machine.boot());
    RawClient stuck;
    std::string error;
    const std::optional<uint64_t> hanging = stuck.attachAndOpenEcho(machine.directory(), &error);
    ASSERT_TRUE(hanging) << error;
    ASSERT_TRUE(stuck.send(0, Op::DeviceIoControl, RawClient::deviceIoControl(*hanging, kIoctlHang, {}, 0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    ToolResult reboot;
    std::thread rebooting([&] { reboot = machine.lxmachine({"reboot"}); });
    // While the reboot waits for the request the daemon takes no client: status says so.
    ToolResult during = statusWhen(machine, 1, "not accepting clients");
    EXPECT_EQ(during.exitStatus, 1);
    EXPECT_TRUE(contains(during.output, "not accepting clients at " + machine.directory())) << during.output;
    EXPECT_FALSE(contains(during.output, "running at")) << during.output;
    rebooting.join();
    EXPECT_EQ(reboot.exitStatus, 1);
    EXPECT_TRUE(contains(reboot.output, "did not restart and keeps running")) << reboot.output;

    // The old machine serves again: status, and a new process attaches and is answered.
    ToolResult after = statusWhen(machine, 0);
    EXPECT_EQ(after.exitStatus, 0);
    EXPECT_TRUE(contains(after.output, "running at " + machine.directory())) << after.output;
    RawClient fresh;
    const std::optional<uint64_t> echo = fresh.attachAndOpenEcho(machine.directory(), &error);
    ASSERT_TRUE(echo) << error;
    auto unhang = fresh.call(0, Op::DeviceIoControl, RawClient::deviceIoControl(*echo, kIoctlUnhang, {}, 0));
    ASSERT_TRUE(unhang);
    EXPECT_EQ(unhang->record.status, 0);
    fresh.exit();
    // With the request gone the reboot goes through.
    EXPECT_EQ(machine.lxmachine({"reboot"}).exitStatus, 0);
    EXPECT_TRUE(machine.shutdown());
}

std::vector<uint8_t> registryRequest(const std::string& key, const std::string& value,
                                     const std::vector<uint8_t>& data = {}) {
    lxm::wire::PayloadWriter w;
    w.record(lxm::wire::RegistryRecord{static_cast<uint32_t>(key.size()), static_cast<uint32_t>(value.size()), 3,
                                       static_cast<uint32_t>(data.size())});
    w.bytes(key.data(), key.size()).bytes(value.data(), value.size()).bytes(data.data(), data.size());
    return w.data();
}

TEST(Reboot, AControlClientThatStopsReadingDoesNotHoldUpAReboot) {
    PrivateMachine machine(kTool, kQuickDrain);
    ASSERT_TRUE(machine.boot());
    lxm::UniqueFd deaf = controlConnection(machine.directory());
    ASSERT_TRUE(deaf.valid());
    const std::string key = "SOFTWARE\\Deaf";
    lxm::Frame answer;
    ASSERT_EQ(lxm::sendFrame(deaf.get(), Op::RegCreateKey, 2, registryRequest(key, "")), lxm::IoResult::Ok);
    ASSERT_EQ(lxm::receiveFrame(deaf.get(), &answer, 10000), lxm::IoResult::Ok);
    ASSERT_EQ(lxm::sendFrame(deaf.get(), Op::RegSet, 3, registryRequest(key, "big", std::vector<uint8_t>(1 << 20, 7))),
              lxm::IoResult::Ok);
    ASSERT_EQ(lxm::receiveFrame(deaf.get(), &answer, 10000), lxm::IoResult::Ok);
    // Queries of a large value whose answers are never read, until the daemon can send no more.
    const int flags = ::fcntl(deaf.get(), F_GETFL);
    ASSERT_EQ(::fcntl(deaf.get(), F_SETFL, flags | O_NONBLOCK), 0);
    for (uint32_t id = 4; id < 10000; ++id) {
        if (lxm::sendFrame(deaf.get(), Op::RegQuery, id, registryRequest(key, "big")) != lxm::IoResult::Ok) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ToolResult reboot = machine.lxmachine({"reboot"});
    EXPECT_EQ(reboot.exitStatus, 0) << reboot.output;
    deaf.reset();
    EXPECT_TRUE(machine.shutdown());
}

// A thread whose replies pile up unread: the daemon blocks sending the
// first, which must not keep a reboot from the kernel.
TEST(Reboot, AThreadThatStopsReadingItsRepliesDoesNotHoldUpAReboot) {
    PrivateMachine machine(kTool, kQuickDrain);
    ASSERT_TRUE(machine.boot());
    RawClient deaf;
    std::string error;
    const std::optional<uint64_t> echo = deaf.attachAndOpenEcho(machine.directory(), &error);
    ASSERT_TRUE(echo) << error;
    const int flags = ::fcntl(deaf.threadSocket(0), F_GETFL);
    ASSERT_EQ(::fcntl(deaf.threadSocket(0), F_SETFL, flags | O_NONBLOCK), 0);
    lxm::wire::PayloadWriter read;
    read.record(lxm::wire::TransferRecord{*echo, lxm::wire::kMaxIoBuffer, 0});
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(deaf.send(0, Op::ReadFile, read.data()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the daemon is stuck in the first reply
    ToolResult reboot = machine.lxmachine({"reboot"});
    EXPECT_EQ(reboot.exitStatus, 0) << reboot.output;
    deaf.exit();
    EXPECT_TRUE(machine.shutdown());
}

// A status request whose connection the daemon accepted just before a
// reboot began is answered, not closed: status never says that no machine
// runs while one restarts.
TEST(Reboot, StatusDuringARebootNeverSaysThatNoMachineRuns) {
    PrivateMachine machine(kTool);
    ASSERT_TRUE(machine.boot());
    std::string error;
    lxm::UniqueFd early = lxm::connectToMachine(machine.directory(), &error);
    ASSERT_TRUE(early.valid()) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // accepted; its hello comes after the reboot
    ASSERT_EQ(machine.lxmachine({"reboot"}).exitStatus, 0);
    lxm::wire::PayloadWriter hello;
    hello.record(lxm::wire::HelloRecord{lxm::wire::kProtocolVersion, 3, 0, 0, 0});
    lxm::Frame answer;
    ASSERT_EQ(lxm::sendFrame(early.get(), Op::Hello, 1, hello.data()), lxm::IoResult::Ok)
        << "the reboot closed a connection that had not said hello yet";
    ASSERT_EQ(lxm::receiveFrame(early.get(), &answer, 10000), lxm::IoResult::Ok);
    lxm::wire::PayloadWriter status;
    status.record(lxm::wire::StatusRecord{0, 0});
    ASSERT_EQ(lxm::sendFrame(early.get(), Op::Status, 2, status.data()), lxm::IoResult::Ok);
    ASSERT_EQ(lxm::receiveFrame(early.get(), &answer, 10000), lxm::IoResult::Ok);
    lxm::wire::ReplyRecord record{};
    std::span<const uint8_t> text;
    ASSERT_TRUE(lxm::parseReply(answer, &record, &text));
    EXPECT_EQ(record.status, 0);
    EXPECT_TRUE(contains(std::string(text.begin(), text.end()), "running at " + machine.directory()));

    // Status asked again and again while the machine reboots.
    std::atomic<bool> rebooting{true};
    std::vector<std::string> answers;
    std::thread asking([&] {
        while (rebooting.load()) answers.push_back(machine.lxmachine({"status"}).output);
    });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(machine.lxmachine({"reboot"}).exitStatus, 0);
    rebooting = false;
    asking.join();
    EXPECT_FALSE(answers.empty());
    for (const std::string& a : answers) EXPECT_FALSE(contains(a, "no machine running")) << a;
    EXPECT_TRUE(machine.shutdown());
}

TEST(ConnectionLimit, AThreadThatCannotBeCreatedRefusesOnlyItsConnection) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitized daemon reserves its shadow memory: an address-space limit fails more than threads";
#endif
    PrivateMachine machine(kTool);
    ASSERT_TRUE(machine.boot());
    const int daemon = machine.daemonPid();
    ASSERT_GT(daemon, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the boot's own connection has ended
    // No room for another thread's stack: the next connection gets no thread.
    rlimit original{};
    ASSERT_EQ(::prlimit(daemon, RLIMIT_AS, nullptr, &original), 0);
    const uint64_t used = lxtest::processStatusKilobytes(daemon, "VmSize");
    ASSERT_GT(used, 0u);
    rlimit tight{(used + 1024) * 1024, original.rlim_max};
    ASSERT_EQ(::prlimit(daemon, RLIMIT_AS, &tight, nullptr), 0);
    std::string error;
    lxm::UniqueFd refused = lxm::connectToMachine(machine.directory(), &error);
    ASSERT_TRUE(refused.valid()) << error;
    lxm::Frame frame;
    EXPECT_NE(lxm::receiveFrame(refused.get(), &frame, 10000), lxm::IoResult::Ok);  // closed without a word
    ASSERT_EQ(::prlimit(daemon, RLIMIT_AS, &original, nullptr), 0);
    EXPECT_TRUE(processAlive(daemon));
    EXPECT_EQ(machine.lxmachine({"status"}).exitStatus, 0);
    std::ifstream log(machine.directory() + "/daemon.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_TRUE(contains(text, "refused a connection: no thread for it")) << text;
    EXPECT_TRUE(machine.shutdown());
}

// Idle clients cost the daemon a thread each, whose stack is mostly never
// touched: 300 of them stay under 64 MiB of resident memory.
TEST(ConnectionLimit, ThreeHundredIdleClientsStayUnderAStatedMemoryBound) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the bound is the release build's; a sanitizer adds its own memory per thread";
#endif
    PrivateMachine machine(kTool);
    ASSERT_TRUE(machine.boot());
    const int daemon = machine.daemonPid();
    ASSERT_GT(daemon, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t before = residentBytes(daemon);
    ASSERT_GT(before, 0u);
    std::vector<lxm::UniqueFd> idle;
    for (int i = 0; i < 300; ++i) {
        lxm::UniqueFd fd = controlConnection(machine.directory());
        ASSERT_TRUE(fd.valid()) << "client " << i;
        idle.push_back(std::move(fd));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t during = residentBytes(daemon);
    EXPECT_LT(during, before + (64u << 20)) << "before " << before << " bytes, with 300 idle clients " << during;
    EXPECT_EQ(machine.lxmachine({"status"}).exitStatus, 0);
    idle.clear();
    EXPECT_TRUE(machine.shutdown());
}
