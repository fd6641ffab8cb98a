// Feeds arbitrary bytes to the daemon's frame and request decoding, as a
// hostile client would send them on its connection or leave them in the
// request area of its shared-memory channel, and to the client's reply
// parsing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "lxmachine/frame_socket.h"
#include "lxmachine/request.h"
#include "lxmachine/request_channel.h"

namespace {

void touch(const lxm::Request& request) {
    // Every view the decoder handed out must lie inside the payload.
    volatile uint8_t sink = 0;
    for (char c : request.name) sink = sink + static_cast<uint8_t>(c);
    for (char c : request.valueName) sink = sink + static_cast<uint8_t>(c);
    for (uint8_t b : request.data) sink = sink + b;
    (void)sink;
}

// The request area as the daemon reads it: the input is the area's bytes
// (the area is never larger than the channel's), the frame is copied out and
// decoded from the copy.
void channelArea(const uint8_t* data, size_t size) {
    std::span<const uint8_t> area(data, std::min<size_t>(size, lxm::channel::kRequestAreaBytes));
    lxm::wire::FrameHeader header{};
    std::vector<uint8_t> payload;
    std::string why;
    if (!lxm::channel::takeFrame(area, &header, &payload, &why)) return;
    if (payload.size() != header.length || header.length > area.size() - sizeof header) __builtin_trap();
    if (auto request = lxm::decodeRequest(header, payload, &why)) touch(*request);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    channelArea(data, size);
    std::span<const uint8_t> stream(data, size);
    // A connection's byte stream: frames one after another until one is bad.
    while (stream.size() >= sizeof(lxm::wire::FrameHeader)) {
        lxm::wire::FrameHeader header;
        std::memcpy(&header, stream.data(), sizeof header);
        stream = stream.subspan(sizeof header);
        std::string why;
        if (!lxm::wire::headerValid(header, &why)) break;
        if (header.length > stream.size()) break;
        auto payload = stream.subspan(0, header.length);
        stream = stream.subspan(header.length);

        if (auto request = lxm::decodeRequest(header, payload, &why)) touch(*request);

        lxm::Frame frame;
        frame.header = header;
        frame.payload.assign(payload.begin(), payload.end());
        lxm::wire::ReplyRecord reply{};
        std::span<const uint8_t> replyData;
        if (lxm::parseReply(frame, &reply, &replyData)) {
            volatile uint8_t sink = 0;
            for (uint8_t b : replyData) sink = sink + b;
            (void)sink;
        }
    }
    return 0;
}
