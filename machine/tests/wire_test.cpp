// Frames on the socket and the daemon's decoding of requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lxmachine/frame_socket.h"
#include "lxmachine/request.h"

using namespace lxm;
using wire::Op;

namespace {

wire::FrameHeader headerFor(Op op, size_t length, uint32_t id = 7) {
    return wire::FrameHeader{wire::kMagic, static_cast<uint16_t>(op), 0, id, static_cast<uint32_t>(length)};
}

std::optional<Request> decode(Op op, const std::vector<uint8_t>& payload, std::string* why = nullptr) {
    std::string ignored;
    return decodeRequest(headerFor(op, payload.size()), payload, why ? why : &ignored);
}

std::vector<uint8_t> ioctlPayload(uint32_t inputLength, size_t actualInput) {
    wire::PayloadWriter w;
    w.record(wire::IoctlRecord{0x100, 0x80002010, inputLength, 4, 0});
    std::vector<uint8_t> input(actualInput, 0xEE);
    w.bytes(input.data(), input.size());
    return w.data();
}

TEST(RequestDecoding, WellFormedRequestsCarryTheirFields) {
    const auto payload = ioctlPayload(12, 12);  // the request's views point into it
    auto r = decode(Op::DeviceIoControl, payload);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->requestId, 7u);
    EXPECT_EQ(r->ioctl.fileHandle, 0x100u);
    EXPECT_EQ(r->ioctl.code, 0x80002010u);
    EXPECT_EQ(r->ioctl.outputLength, 4u);
    ASSERT_EQ(r->data.size(), 12u);
    EXPECT_EQ(r->data[11], 0xEE);

    wire::PayloadWriter reg;
    std::string key = "SYSTEM\\X", value = "RequiredMemorySize";
    uint32_t dword = 0x1234;
    reg.record(wire::RegistryRecord{uint32_t(key.size()), uint32_t(value.size()), 4, 4}).text(key).text(value).bytes(&dword, 4);
    auto set = decode(Op::RegSet, reg.data());
    ASSERT_TRUE(set);
    EXPECT_EQ(set->name, key);
    EXPECT_EQ(set->valueName, value);
    ASSERT_EQ(set->data.size(), 4u);
    EXPECT_EQ(set->data[0], 0x34);
}

TEST(RequestDecoding, MalformedRequestsAreRejectedWithAReason) {
    std::string why;
    EXPECT_FALSE(decode(Op::DeviceIoControl, ioctlPayload(12, 11), &why));
    EXPECT_EQ(why, "ioctl input runs past the payload");
    EXPECT_FALSE(decode(Op::DeviceIoControl, ioctlPayload(12, 13), &why));
    EXPECT_EQ(why, "trailing bytes after the request");
    EXPECT_FALSE(decode(Op::DeviceIoControl, ioctlPayload(0xFFFFFFFF, 0), &why));
    EXPECT_EQ(why, "ioctl buffer too large");
    EXPECT_FALSE(decode(Op::DeviceIoControl, {1, 2, 3}, &why));
    EXPECT_EQ(why, "short ioctl record");

    wire::PayloadWriter path;
    path.record(wire::PathRecord{5, 0}).bytes("ab\0cd", 5);
    EXPECT_FALSE(decode(Op::CreateFile, path.data(), &why));
    EXPECT_EQ(why, "name contains a NUL byte");
    wire::PayloadWriter empty;
    empty.record(wire::PathRecord{0, 0});
    EXPECT_FALSE(decode(Op::CreateFile, empty.data(), &why));
    EXPECT_EQ(why, "name length out of range");

    wire::PayloadWriter mapping;
    mapping.record(wire::NamedObjectRecord{0, 1, 0}).text("M");
    EXPECT_FALSE(decode(Op::CreateMapping, mapping.data(), &why));
    EXPECT_EQ(why, "mapping size out of range");

    wire::PayloadWriter plug;
    plug.record(wire::PlugRecord{1, 0x100, 0, 0});
    EXPECT_FALSE(decode(Op::Plug, plug.data(), &why));
    wire::PayloadWriter audioPlug;
    audioPlug.record(wire::AudioPlugRecord{1, 0});
    auto audio = decode(Op::PlugAudio, audioPlug.data(), &why);
    ASSERT_TRUE(audio) << why;
    EXPECT_EQ(audio->audioPlug.portSpace, 1u);
    wire::PayloadWriter badPort;
    badPort.record(wire::AudioPlugRecord{2, 0});
    EXPECT_FALSE(decode(Op::PlugAudio, badPort.data(), &why));
    EXPECT_EQ(why, "port flag out of range");
    wire::PayloadWriter audioUnplug;
    audioUnplug.record(wire::UnplugRecord{2, 1});
    auto unplugged = decode(Op::UnplugAudio, audioUnplug.data(), &why);
    ASSERT_TRUE(unplugged) << why;
    EXPECT_EQ(unplugged->unplug.number, 2u);
    EXPECT_EQ(unplugged->unplug.surprise, 1u);

    wire::PayloadWriter source;
    source.record(wire::CardSourceRecord{1, 3, 4, 0}).text("bars");
    auto connected = decode(Op::CardSource, source.data(), &why);
    ASSERT_TRUE(connected) << why;
    EXPECT_EQ(connected->cardSource.number, 1u);
    EXPECT_EQ(connected->cardSource.input, 3u);
    EXPECT_EQ(connected->name, "bars");
    wire::PayloadWriter input;
    input.record(wire::CardSourceRecord{1, 4, 4, 0}).text("bars");
    EXPECT_FALSE(decode(Op::CardSource, input.data(), &why));
    EXPECT_EQ(why, "card or input out of range");
    wire::PayloadWriter noCard;
    noCard.record(wire::CardSourceRecord{0, 0, 4, 0}).text("bars");
    EXPECT_FALSE(decode(Op::CardSource, noCard.data(), &why));
    EXPECT_EQ(why, "card or input out of range");
    wire::PayloadWriter longer;
    longer.record(wire::CardSourceRecord{1, 0, 5, 0}).text("bars");
    EXPECT_FALSE(decode(Op::CardSource, longer.data(), &why));
    EXPECT_EQ(why, "name runs past the payload");
    wire::PayloadWriter unnamed;
    unnamed.record(wire::CardSourceRecord{1, 0, 0, 0});
    EXPECT_FALSE(decode(Op::CardSource, unnamed.data(), &why));
    EXPECT_EQ(why, "name length out of range");
    EXPECT_FALSE(decode(Op::CardSource, {1, 0, 0, 0}, &why));
    EXPECT_EQ(why, "short card source record");

    wire::PayloadWriter cardSwitch;
    cardSwitch.record(wire::CardSwitchRecord{2, 3});
    auto switched = decode(Op::CardSwitch, cardSwitch.data(), &why);
    ASSERT_TRUE(switched) << why;
    EXPECT_EQ(switched->cardSwitch.number, 2u);
    EXPECT_EQ(switched->cardSwitch.bits, 3u);
    wire::PayloadWriter bits;
    bits.record(wire::CardSwitchRecord{2, 4});
    EXPECT_FALSE(decode(Op::CardSwitch, bits.data(), &why));
    EXPECT_EQ(why, "card or switch bits out of range");
    cardSwitch.bytes("x", 1);
    EXPECT_FALSE(decode(Op::CardSwitch, cardSwitch.data(), &why));
    EXPECT_EQ(why, "trailing bytes after the request");

    EXPECT_FALSE(decode(Op::Reply, {}, &why));
    EXPECT_EQ(why, "not a request opcode");
    EXPECT_FALSE(decode(static_cast<Op>(999), {}, &why));

    auto header = headerFor(Op::Version, 0);
    header.magic = 0;
    EXPECT_FALSE(decodeRequest(header, {}, &why));
    EXPECT_EQ(why, "bad frame magic");
    header = headerFor(Op::Version, 4);
    EXPECT_FALSE(decodeRequest(header, {}, &why));
    EXPECT_EQ(why, "payload length differs from the header");
}

class SocketPair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0); }
    void TearDown() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int fds_[2];
};

TEST_F(SocketPair, FramesCarryPayloadAndDescriptors) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::vector<uint8_t> payload(100000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    int fd = pipeFds[1];
    std::thread sender([&] { EXPECT_EQ(sendFrame(fds_[0], Op::Reply, 42, payload, std::span(&fd, 1)), IoResult::Ok); });
    Frame frame;
    ASSERT_EQ(receiveFrame(fds_[1], &frame, 5000), IoResult::Ok);
    sender.join();
    EXPECT_EQ(frame.op(), Op::Reply);
    EXPECT_EQ(frame.header.requestId, 42u);
    EXPECT_EQ(frame.payload, payload);
    ASSERT_EQ(frame.fds.size(), 1u);
    // The passed descriptor is the pipe's write end: data written to it arrives.
    ASSERT_EQ(::write(frame.fds[0].get(), "x", 1), 1);
    char c = 0;
    ASSERT_EQ(::read(pipeFds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST_F(SocketPair, ReceiveIsBoundedAndRejectsBadHeaders) {
    Frame frame;
    EXPECT_EQ(receiveFrame(fds_[1], &frame, 50), IoResult::Timeout);
    // A header announcing more than the protocol allows is refused before any payload is read.
    wire::FrameHeader huge{wire::kMagic, static_cast<uint16_t>(Op::Version), 0, 1, wire::kMaxPayload + 1};
    ASSERT_EQ(::write(fds_[0], &huge, sizeof huge), static_cast<ssize_t>(sizeof huge));
    std::string why;
    EXPECT_EQ(receiveFrame(fds_[1], &frame, 1000, &why), IoResult::Malformed);
    EXPECT_EQ(why, "frame payload too large");
    // A peer that closes in the middle of a frame is a closed connection.
    wire::FrameHeader partial{wire::kMagic, static_cast<uint16_t>(Op::Version), 0, 1, 10};
    ASSERT_EQ(::write(fds_[0], &partial, sizeof partial), static_cast<ssize_t>(sizeof partial));
    ::shutdown(fds_[0], SHUT_WR);
    EXPECT_EQ(receiveFrame(fds_[1], &frame, 1000), IoResult::Closed);
}

TEST(ReplyRecords, ParseChecksLengthsAndDescriptorCount) {
    Frame frame;
    frame.header = headerFor(Op::Reply, 0);
    uint8_t data[3] = {1, 2, 3};
    frame.payload = replyPayload(-5, 9, 0x1122334455667788ull, data);
    wire::ReplyRecord record{};
    std::span<const uint8_t> out;
    ASSERT_TRUE(parseReply(frame, &record, &out));
    EXPECT_EQ(record.status, -5);
    EXPECT_EQ(record.information, 9u);
    EXPECT_EQ(record.value, 0x1122334455667788ull);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], 3);
    frame.payload.pop_back();
    EXPECT_FALSE(parseReply(frame, &record, &out));
    frame.payload = replyPayload(0, 0, 0, {}, 1);  // announces a descriptor that did not come
    EXPECT_FALSE(parseReply(frame, &record, &out));
}

}  // namespace
