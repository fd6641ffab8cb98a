// The shared-memory request channel on its own: frames copied out of an
// area and checked, the sealed memory, and rings between two processes
// (a forked child plays the client), with and without spinning.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "lxmachine/request_channel.h"

using namespace lxm;
using namespace lxm::channel;

namespace {

std::vector<uint8_t> frameBytes(uint32_t magic, uint16_t op, uint16_t flags, uint32_t id, uint32_t length,
                                std::span<const uint8_t> payload) {
    wire::FrameHeader header{magic, op, flags, id, length};
    std::vector<uint8_t> bytes(sizeof header + payload.size());
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!payload.empty()) std::memcpy(bytes.data() + sizeof header, payload.data(), payload.size());
    return bytes;
}

TEST(ChannelFrames, AFrameIsCopiedOutExactlyAndABadOneRefused) {
    const uint8_t payload[5] = {1, 2, 3, 4, 5};
    auto area = frameBytes(wire::kMagic, static_cast<uint16_t>(wire::Op::CloseFile), 0, 42, 5, payload);
    area.resize(64, 0xEE);  // what lies beyond the frame is not taken
    wire::FrameHeader header{};
    std::vector<uint8_t> copy;
    std::string why;
    ASSERT_TRUE(takeFrame(area, &header, &copy, &why)) << why;
    EXPECT_EQ(header.requestId, 42u);
    EXPECT_EQ(header.opcode, static_cast<uint16_t>(wire::Op::CloseFile));
    EXPECT_EQ(copy, std::vector<uint8_t>(payload, payload + 5));

    // A length that runs past the area, by one byte.
    auto past = frameBytes(wire::kMagic, 11, 0, 1, 64 - 16 + 1, {});
    past.resize(64);
    EXPECT_FALSE(takeFrame(past, &header, &copy, &why));
    // The longest frame that fits.
    auto full = frameBytes(wire::kMagic, 11, 0, 1, 64 - 16, {});
    full.resize(64);
    EXPECT_TRUE(takeFrame(full, &header, &copy, &why)) << why;
    EXPECT_EQ(copy.size(), 48u);

    auto magic = frameBytes(0x12345678, 11, 0, 1, 0, {});
    EXPECT_FALSE(takeFrame(magic, &header, &copy, &why));
    auto flags = frameBytes(wire::kMagic, 11, 1, 1, 0, {});
    EXPECT_FALSE(takeFrame(flags, &header, &copy, &why));
    EXPECT_FALSE(takeFrame(std::span<const uint8_t>(area.data(), 15), &header, &copy, &why));
}

TEST(ChannelMemory, TheDaemonsMemoryIsSealedAndAForeignLayoutRefused) {
    std::string why;
    auto channel = RequestChannel::create(&why);
    ASSERT_TRUE(channel) << why;
    EXPECT_NE(::ftruncate(channel->fd(), 4096), 0);  // a client cannot pull the pages from under the daemon
    EXPECT_EQ(errno, EPERM);
    EXPECT_NE(::ftruncate(channel->fd(), 2 * kChannelBytes), 0);

    ChannelRecord record = channel->record();
    EXPECT_EQ(record.bytes, 65536u);
    EXPECT_EQ(record.requestAreaOffset, 256u);
    EXPECT_EQ(record.replyAreaOffset, 32768u);
    record.replyAreaBytes += 1;
    EXPECT_FALSE(RequestChannel::attach(UniqueFd(::dup(channel->fd())), record, &why));
    EXPECT_TRUE(RequestChannel::attach(UniqueFd(::dup(channel->fd())), channel->record(), &why)) << why;
    EXPECT_TRUE(channel->requestFits(kRequestAreaBytes - 16));
    EXPECT_FALSE(channel->requestFits(kRequestAreaBytes - 15));
}

// The child attaches to the daemon's memory, posts `rounds` requests and
// checks each reply; its exit status says how far it got.
int clientRounds(int fd, ChannelRecord record, int rounds, bool spin) {
    auto client = RequestChannel::attach(UniqueFd(::dup(fd)), record, nullptr);
    if (!client) return 10;
    for (int i = 0; i < rounds; ++i) {
        const uint32_t word = 0xC0DE0000u + static_cast<uint32_t>(i);
        bool running = client->postRequest(wire::Op::CloseFile, static_cast<uint32_t>(i + 1),
                                           std::span(reinterpret_cast<const uint8_t*>(&word), sizeof word));
        WaitResult r;
        while ((r = client->waitForReply(std::chrono::milliseconds(5000), spin && running)) == WaitResult::TimedOut) {
        }
        if (r != WaitResult::Rang || client->replyPost() != Post::InArea) return 20;
        wire::FrameHeader header{};
        std::vector<uint8_t> payload;
        if (!client->takeReply(&header, &payload) || header.requestId != static_cast<uint32_t>(i + 1) ||
            payload.size() != 4 || std::memcmp(payload.data(), &word, 4) != 0)
            return 30;
    }
    client->ringRequest(Post::Closing);
    return 0;
}

void serveRounds(bool spin) {
    std::string why;
    auto daemon = RequestChannel::create(&why);
    ASSERT_TRUE(daemon) << why;
    const int rounds = 200;
    const pid_t child = ::fork();
    if (child == 0) _exit(clientRounds(daemon->fd(), daemon->record(), rounds, spin));
    std::atomic<bool> stop{false};
    int served = 0;
    bool closed = false;
    bool replied = false;
    while (!closed) {
        WaitResult r = daemon->waitForRequest(std::chrono::milliseconds(5000), spin && replied, stop);
        ASSERT_EQ(r, WaitResult::Rang);
        if (daemon->requestPost() == Post::Closing) {
            closed = true;
            break;
        }
        ASSERT_EQ(daemon->requestPost(), Post::InArea);
        wire::FrameHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(daemon->takeRequest(&header, &payload, &why)) << why;
        ASSERT_EQ(header.requestId, static_cast<uint32_t>(served + 1));
        daemon->postReply(wire::Op::Reply, header.requestId, payload);
        replied = true;
        ++served;
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(served, rounds);
}

TEST(ChannelRings, RequestsAndRepliesCrossBetweenProcessesInOrder) {
    serveRounds(false);
    serveRounds(true);
}

TEST(ChannelRings, AWaitEndsOnItsTimeOutOrWhenStopped) {
    std::string why;
    auto daemon = RequestChannel::create(&why);
    ASSERT_TRUE(daemon) << why;
    std::atomic<bool> stop{false};
    EXPECT_EQ(daemon->waitForRequest(std::chrono::milliseconds(20), true, stop), WaitResult::TimedOut);

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
        daemon->interruptRequestWait();
    });
    // Without the interruption this would sleep for a minute.
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(daemon->waitForRequest(std::chrono::milliseconds(60000), false, stop), WaitResult::Stopped);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
}

}  // namespace

namespace {

// Which of `waits` waits spin when every spin misses.
std::string spinsWhenAllMiss(SpinPolicy& policy, int waits) {
    std::string out;
    for (int i = 0; i < waits; ++i) {
        const bool spins = policy.maySpin();
        out += spins ? 'S' : '.';
        if (spins) policy.spun(false);
    }
    return out;
}

TEST(ChannelSpin, MissedSpinsBackOffAndACaughtRingRestoresSpinning) {
    SpinPolicy policy;
    EXPECT_EQ(spinsWhenAllMiss(policy, 16), "S.S..S....S.....");
    // Past the longest back-off, one wait in 65 spins.
    SpinPolicy steady;
    spinsWhenAllMiss(steady, 200);
    const std::string later = spinsWhenAllMiss(steady, 130);
    EXPECT_EQ(std::count(later.begin(), later.end(), 'S'), 2);
    // One caught ring and every wait spins again.
    while (!steady.maySpin()) {
    }
    steady.spun(true);
    EXPECT_TRUE(steady.maySpin());
    steady.spun(true);
    EXPECT_TRUE(steady.maySpin());
}

}  // namespace
