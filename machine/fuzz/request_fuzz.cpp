// Feeds arbitrary bytes to the daemon's frame and request decoding, as a
// hostile client would send them on its connection, and to the client's
// reply parsing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "lxmachine/frame_socket.h"
#include "lxmachine/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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

        if (auto request = lxm::decodeRequest(header, payload, &why)) {
            // Touch every view the decoder handed out: they must lie inside the payload.
            volatile uint8_t sink = 0;
            for (char c : request->name) sink = sink + static_cast<uint8_t>(c);
            for (char c : request->valueName) sink = sink + static_cast<uint8_t>(c);
            for (uint8_t b : request->data) sink = sink + b;
            (void)sink;
        }

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
