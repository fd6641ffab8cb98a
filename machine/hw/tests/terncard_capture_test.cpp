// The card library's capture of a counted series into memory, played against
// the card: a two-frame ring whose slots are re-targeted at each hand-over
// of the field counter. Every frame must hold two consecutive fields of one
// frame, frames must follow each other, and nothing may land past the last.
#include <cstring>

#include "bars_decoder.h"
#include "lxmachine/hw/terncard/dma_program.h"
#include "terncard_harness.h"

namespace lxhw::tern::testing {
namespace {

constexpr uint32_t kProgram = 0x200000;
constexpr uint32_t kTarget = 0x400000;
constexpr uint32_t kScratch = 0x1000000;  // where the ring writes after the series
constexpr uint32_t kWidth = 192, kLines = 72, kBytesPerPixel = 4;
constexpr uint32_t kLineBytes = kWidth * kBytesPerPixel;
constexpr uint32_t kFrameBytes = 2 * kLines * kLineBytes;
constexpr uint32_t kFrameWords = 2 * (4 + 2 * kLines);

class Library {
public:
    explicit Library(CardHarness& h) : h_(h) {}

    // One frame, fields interleaved, at word `start`; ends with the jump to the program start.
    void buildFrame(uint32_t target, uint32_t start) {
        uint32_t k = start;
        auto put = [&](uint32_t w) { std::memcpy(h_.ram(kProgram + 4 * k++), &w, 4); };
        for (uint32_t field = 0; field < 2; ++field) {
            put(field == 0 ? dma::kSyncFirst : dma::kSyncSecond);
            put(0);
            put(dma::kSyncData);
            put(0);
            for (uint32_t i = 0; i < kLines; ++i) {
                put(dma::kWriteLine | kLineBytes);
                put(target + field * kLineBytes + i * 2 * kLineBytes);
            }
        }
        put(dma::kJump);
        put(kProgram);
    }

    // TernCardCaptureToMem for `count` (3 or more) frames; returns the frames handed over.
    uint32_t captureToMem(uint32_t count) {
        buildFrame(kTarget, 0);
        buildFrame(kTarget + kFrameBytes, kFrameWords);
        h_.write(kProgramStart, kProgram);
        h_.startDma();
        if (!h_.waitOdd() || !h_.waitOdd()) return 0;
        h_.write(kFieldCount, 0);
        uint32_t n = 0, lastFields = 0;
        while (n < count) {
            const uint32_t wanted = n % 2 == 0 ? 3 : 1;
            uint32_t fields = 0;
            if (!waitFor([&] { return ((fields = h_.read(kFieldCount)) & 3) == wanted; })) break;
            // Seen one frame after the last hand-over, and rebuilt before
            // the card's next field: otherwise this thread was late.
            if (n > 0 && fields != lastFields + 2) late_ = true;
            lastFields = fields;
            // The slot left takes frame n + 2, or a scratch frame once no
            // frame needs it: rebuilt either way, since slot 0's rebuild
            // jumps from slot 1's first instruction back to slot 0, which
            // would refill the last frame before the engine stops.
            const uint32_t next = n + 2 < count ? kTarget + (n + 2) * kFrameBytes : kScratch;
            buildFrame(next, n % 2 == 0 ? 0 : kFrameWords);
            if (h_.read(kFieldCount) != fields) late_ = true;
            ++n;
        }
        h_.stopDma();
        return n;
    }

    // A hand-over came too late (this thread was held up longer than a
    // field): the frames then say nothing about the card.
    bool late() const { return late_; }

private:
    CardHarness& h_;
    bool late_ = false;
};

uint32_t fieldNumberIn(CardHarness& h, uint32_t frame, uint32_t field) {
    lxtest::CapturedField f;
    f.pixels = h.ram(kTarget + frame * kFrameBytes + field * kLineBytes);
    f.width = kWidth;
    f.lines = kLines;
    f.stride = 2 * kLineBytes;
    f.format = PixelFormat::Rgb32;
    f.samplesPerPixel = 4;
    f.fieldLinesPerLine = 4;
    auto number = lxtest::decodeFieldNumber(f);
    EXPECT_TRUE(number) << "frame " << frame << " field " << field;
    return number.value_or(0);
}

TEST(TernCardCapture, SeriesToMemoryThroughTheTwoSlotRing) {
    // Slow enough that the hand-over keeps up even on a loaded machine.
    CardHarness h({}, 2.0);  // bars on input 3
    programScaledWindow(h, kWidth, kLines);
    h.write(kInputFormat, kFormatPal | 3 << kFormatMuxShift);
    h.write(kPixelFormat, 0x00);
    constexpr uint32_t kCount = 5;
    // A loaded machine can hold the test's own thread up past a hand-over;
    // such a run is repeated (a fault of the card fails every run).
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::memset(h.ram(kTarget), 0xAB, (kCount + 2) * kFrameBytes);
        Library library(h);
        ASSERT_EQ(library.captureToMem(kCount), kCount);
        if (!library.late()) break;
    }

    std::vector<uint32_t> first(kCount);
    for (uint32_t frame = 0; frame < kCount; ++frame) {
        first[frame] = fieldNumberIn(h, frame, 0);
        EXPECT_EQ(first[frame] % 2, 0u) << "frame " << frame << " starts with a first field";
        EXPECT_EQ(fieldNumberIn(h, frame, 1), first[frame] + 1) << "frame " << frame;
    }
    // Frames follow each other, one frame apart: nothing refilled a frame
    // after its hand-over.
    for (uint32_t frame = 1; frame < kCount; ++frame) EXPECT_EQ(first[frame], first[frame - 1] + 2) << "frame " << frame;
    const uint8_t* beyond = h.ram(kTarget + kCount * kFrameBytes);
    EXPECT_TRUE(std::all_of(beyond, beyond + 2 * kFrameBytes, [](uint8_t b) { return b == 0xAB; }));
}

// The ring position the card library derives from the program counter:
// (counter - start) / bytes per block is the block being filled.
TEST(TernCardCapture, ProgramCounterTellsTheBlockBeingFilled) {
    CardHarness h({}, 2.0);
    programScaledWindow(h, kWidth, kLines);
    h.write(kInputFormat, kFormatPal | 3 << kFormatMuxShift);
    Library library(h);
    library.buildFrame(kTarget, 0);
    library.buildFrame(kTarget + kFrameBytes, kFrameWords);
    h.write(kProgramStart, kProgram);
    h.startDma();
    ASSERT_TRUE(h.waitOdd());
    ASSERT_TRUE(h.waitOdd());
    h.write(kFieldCount, 0);
    const uint32_t blockBytes = kFrameWords / 2 * 4;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(h.waitEven() && h.waitOdd());
        // Just after a first field began: the count and the counter agree on the block.
        const uint32_t count = h.read(kFieldCount);
        const uint32_t pc = h.read(kProgramCounter);
        ASSERT_GE(pc, kProgram);
        const uint32_t block = (pc - kProgram) / blockBytes;
        if (count == 0) continue;  // still before the ring's first block
        EXPECT_EQ(block, (count - 1) % 4);
        EXPECT_EQ(block % 2, 0u);  // a first-field block
    }
    h.stopDma();
    const uint32_t stoppedAt = h.read(kProgramCounter);
    ASSERT_TRUE(h.waitOdd());
    EXPECT_EQ(h.read(kProgramCounter), stoppedAt);
}

}  // namespace
}  // namespace lxhw::tern::testing
