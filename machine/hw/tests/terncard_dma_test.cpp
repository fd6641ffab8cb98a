#include <png.h>

#include <cstring>
#include <filesystem>

#include "lxmachine/hw/terncard/dma_program.h"
#include "terncard_harness.h"

namespace lxhw::tern::testing {
namespace {

constexpr uint32_t kProgram = 0x200000;
constexpr uint32_t kTarget = 0x400000;
constexpr uint8_t kUntouched = 0xAB;

// A 768 x 576 picture whose even frame lines (first fields) are white and
// odd frame lines (second fields) black.
std::string stripedPicture() {
    const auto path = std::filesystem::temp_directory_path() / ("terncard_stripes_" + std::to_string(getpid()) + ".png");
    std::vector<uint8_t> rgb(768 * 576 * 3);
    for (uint32_t y = 0; y < 576; y += 2) std::memset(&rgb[y * 768 * 3], 0xFF, 768 * 3);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 768;
    image.height = 576;
    image.format = PNG_FORMAT_RGB;
    EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
    return path.string();
}

class ProgramWriter {
public:
    ProgramWriter(CardHarness& h, uint32_t at) : h_(h), at_(at), next_(at) {}
    uint32_t here() const { return next_; }
    ProgramWriter& word(uint32_t w) {
        std::memcpy(h_.ram(next_), &w, 4);
        next_ += 4;
        return *this;
    }
    ProgramWriter& pair(uint32_t a, uint32_t b) { return word(a).word(b); }
    ProgramWriter& field(uint32_t sync, uint32_t target, uint32_t lines, uint32_t bytes, uint32_t step) {
        pair(sync, 0).pair(dma::kSyncData, 0);
        for (uint32_t i = 0; i < lines; ++i) pair(dma::kWriteLine | bytes, target + i * step);
        return *this;
    }
    ProgramWriter& jumpToStart() { return pair(dma::kJump, at_); }

private:
    CardHarness& h_;
    uint32_t at_, next_;
};

class TernCardDma : public ::testing::Test {
protected:
    void SetUp() override {
        picture_ = stripedPicture();
        TernCardSetup setup;
        setup.sources = {"image:" + picture_, "none", "none", "bars"};
        h_ = std::make_unique<CardHarness>(setup, 5.0);  // 4 ms fields: room for a loaded machine
        programWindow(*h_, 16, 4, 100, 200);
        h_->write(kPixelFormat, 0x00);  // RGB8888
        h_->write(kProgramStart, kProgram);
        std::memset(h_->ram(kTarget), kUntouched, 64 * 1024);
    }
    void TearDown() override { std::filesystem::remove(picture_); }

    CardHarness& h() { return *h_; }
    bool untouched(uint32_t physical, size_t bytes) {
        const uint8_t* p = h_->ram(physical);
        return std::all_of(p, p + bytes, [](uint8_t b) { return b == kUntouched; });
    }
    bool filledWith(uint32_t physical, size_t bytes, const std::vector<uint8_t>& pixel) {
        const uint8_t* p = h_->ram(physical);
        for (size_t i = 0; i < bytes; ++i)
            if (p[i] != pixel[i % pixel.size()]) return false;
        return true;
    }

    std::string picture_;
    std::unique_ptr<CardHarness> h_;
};

const std::vector<uint8_t> kWhite32{0xFF, 0xFF, 0xFF, 0x00};
const std::vector<uint8_t> kBlack32{0x00, 0x00, 0x00, 0x00};

TEST_F(TernCardDma, TwoFieldProgramWritesLinesWhereItSays) {
    // First field to lines 0, 2, 4, 6 of a 64-byte-per-line frame, second field
    // to 1, 3, 5, 7; the second field's line 1 in three pieces, line 2 skipped.
    ProgramWriter p(h(), kProgram);
    p.field(dma::kSyncFirst, kTarget, 4, 64, 128);
    p.pair(dma::kSyncSecond, 0).pair(dma::kSyncData, 0);
    p.pair(dma::kWriteLine | 64, kTarget + 64);
    p.pair(dma::kOpWrite | dma::kFirstPiece | 8, kTarget + 192);
    p.word(dma::kOpSkip | 16);
    p.pair(dma::kOpWrite | dma::kLastPiece | 40, kTarget + 192 + 24);
    p.word(dma::kSkipLine | 64);
    p.pair(dma::kWriteLine | 64, kTarget + 448);
    p.jumpToStart();

    h().startDma();
    ASSERT_TRUE(waitFor([&] { return !untouched(kTarget + 448, 64) && !untouched(kTarget + 384, 64); }));
    h().stopDma();
    for (uint32_t line = 0; line < 8; line += 2)
        EXPECT_TRUE(filledWith(kTarget + line * 64, 64, kWhite32)) << "first-field line " << line;
    EXPECT_TRUE(filledWith(kTarget + 64, 64, kBlack32));
    EXPECT_TRUE(filledWith(kTarget + 192, 8, kBlack32));
    EXPECT_TRUE(untouched(kTarget + 200, 16));  // the skipped piece
    EXPECT_TRUE(filledWith(kTarget + 216, 40, kBlack32));
    EXPECT_TRUE(untouched(kTarget + 320, 64));  // the skipped line
    EXPECT_TRUE(filledWith(kTarget + 448, 64, kBlack32));
    EXPECT_TRUE(untouched(kTarget + 512, 4096));  // nothing past the frame
    EXPECT_EQ(h().read(kIntStatus) & kIntDmaErrors, 0u);
}

TEST_F(TernCardDma, LinesReachVideoMemory) {
    // Live capture writes into the display adapter's memory at its BAR address.
    constexpr uint32_t kVram = 0xE0000000 + 4096;
    std::memset(h().ram(kVram), kUntouched, 1024);
    ProgramWriter p(h(), kProgram);
    p.field(dma::kSyncFirst, kVram, 4, 64, 256).field(dma::kSyncSecond, kVram + 128, 4, 64, 256).jumpToStart();
    h().startDma();
    ASSERT_TRUE(waitFor([&] { return filledWith(kVram + 3 * 256 + 128, 64, kBlack32); }));
    ASSERT_TRUE(waitFor([&] { return filledWith(kVram + 3 * 256, 64, kWhite32); }));
    h().stopDma();
    EXPECT_TRUE(untouched(kVram + 64, 64));
    EXPECT_EQ(h().read(kIntStatus) & kIntDmaErrors, 0u);
}

TEST_F(TernCardDma, NothingIsWrittenWhileTheEngineIsDisabled) {
    ProgramWriter p(h(), kProgram);
    p.field(dma::kSyncFirst, kTarget, 4, 64, 128).jumpToStart();
    h().write(kDmaControl, 3);  // capture control still 0
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(h().waitOdd());
    EXPECT_TRUE(untouched(kTarget, 1024));
    h().write(kCaptureControl, 1);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(h().waitOdd());
    EXPECT_TRUE(untouched(kTarget, 1024));
    EXPECT_EQ(h().read(kProgramCounter), 0u);

    // Without bus mastering the engine cannot reach memory either.
    h().card->configWrite(pci::kCommand, 2, pci::kCommandMemory);
    h().startDma();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(h().waitOdd());
    EXPECT_TRUE(untouched(kTarget, 1024));
    h().card->configWrite(pci::kCommand, 2, pci::kCommandMemory | pci::kCommandBusMaster);
    EXPECT_TRUE(waitFor([&] { return filledWith(kTarget + 384, 64, kWhite32); }));
    h().stopDma();
}

// The card library's two-slot hand-over: a two-frame ring, two field waits,
// the counter cleared, then the low two bits read 3 while the card is in
// slot 1 and 1 while it is in slot 0 - in every scan mode, from either phase.
TEST_F(TernCardDma, FieldCounterHandOverFindsTheCardInTheOtherSlot) {
    for (int scanMode : {0, 1, 2}) {
        for (bool startInSecondField : {false, true}) {
            SCOPED_TRACE("scan mode " + std::to_string(scanMode) + (startInSecondField ? ", second" : ", first"));
            h().stopDma();
            ProgramWriter p(h(), kProgram);
            for (int frame = 0; frame < 2; ++frame) {
                if (scanMode != 2) p.field(dma::kSyncFirst, kTarget, 4, 64, 128);
                if (scanMode == 0 || scanMode == 2) p.field(dma::kSyncSecond, kTarget + 64, 4, 64, 128);
            }
            const uint32_t slot1 = kProgram + (p.here() - kProgram) / 2;
            p.jumpToStart();
            ASSERT_TRUE(waitFor([&] { return bool(h().read(kVideoStatus) & kStatusSecondField) == startInSecondField; }));
            h().startDma();
            auto fieldWait = [&] { return scanMode == 2 ? h().waitEven() : h().waitOdd(); };
            ASSERT_TRUE(fieldWait());
            ASSERT_TRUE(fieldWait());
            h().write(kFieldCount, 0);
            for (int handOver = 0; handOver < 4; ++handOver) {
                const uint32_t wanted = handOver % 2 == 0 ? 3 : 1;
                // The counter and the program counter read within one field:
                // a reader delayed past the field's end (a loaded host) reads
                // both again rather than pairing two fields.
                uint32_t pc = 0;
                ASSERT_TRUE(waitFor([&] {
                    const uint32_t before = h().read(kFieldCount);
                    pc = h().read(kProgramCounter);
                    return (before & 3) == wanted && h().read(kFieldCount) == before;
                }));
                if (wanted == 3) {
                    EXPECT_GE(pc, slot1) << "hand-over " << handOver;
                } else {
                    EXPECT_LT(pc, slot1) << "hand-over " << handOver;
                }
                // Leave the value behind before looking for the next one.
                ASSERT_TRUE(waitFor([&] { return (h().read(kFieldCount) & 3) != wanted; }));
            }
        }
    }
    h().stopDma();
}

// The worst mask a card library can build: every line of a full PAL frame
// alternates visible and hidden pixels (768 one-pixel pieces a line). The
// engine must run it like any other program: each visible pixel lands, each
// hidden one keeps its byte, and no error bit is raised.
TEST_F(TernCardDma, WorstMaskAtFullSizeWritesEveryVisiblePixelAndNoOther) {
    constexpr uint32_t kWidth = 768, kLines = 288, kBytes = 4;
    constexpr uint32_t kLineBytes = kWidth * kBytes;
    constexpr uint32_t kFrameBytes = kLineBytes * 2 * kLines;
    constexpr uint32_t kMaskedProgram = 0x800000;  // 2.6 MB: past the frame at kTarget
    programWindow(h(), kWidth, kLines);
    std::memset(h().ram(kTarget), kUntouched, kFrameBytes + 4096);
    auto visible = [](uint32_t frameLine, uint32_t x) { return (x + frameLine) % 2 == 0; };

    ProgramWriter p(h(), kMaskedProgram);
    for (uint32_t parity : {0u, 1u}) {
        p.pair(parity == 0 ? dma::kSyncFirst : dma::kSyncSecond, 0).pair(dma::kSyncData, 0);
        for (uint32_t i = 0; i < kLines; ++i) {
            const uint32_t frameLine = 2 * i + parity;
            const uint32_t lineAddress = kTarget + frameLine * kLineBytes;
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint32_t marks = (x == 0 ? dma::kFirstPiece : 0) | (x + 1 == kWidth ? dma::kLastPiece : 0);
                if (visible(frameLine, x)) {
                    p.pair(dma::kOpWrite | marks | kBytes, lineAddress + x * kBytes);
                } else {
                    p.word(dma::kOpSkip | marks | kBytes);
                }
            }
        }
    }
    p.jumpToStart();
    h().write(kProgramStart, kMaskedProgram);

    h().startDma();
    const uint32_t lastFirst = kTarget + (2 * kLines - 2) * kLineBytes;
    const uint32_t lastSecond = kTarget + (2 * kLines - 1) * kLineBytes;
    ASSERT_TRUE(waitFor([&] {
        return (h().read(kIntStatus) & kIntDmaErrors) != 0 ||
               (!untouched(lastFirst + (kWidth - 2) * kBytes, kBytes) && !untouched(lastSecond + (kWidth - 1) * kBytes, kBytes));
    }, 20.0));
    // Two more fields: each line written since has the same bytes.
    ASSERT_TRUE(h().waitOdd());
    h().stopDma();
    ASSERT_EQ(h().read(kIntStatus) & kIntDmaErrors, 0u);

    uint32_t wrongVisible = 0, touchedHidden = 0;
    for (uint32_t line = 0; line < 2 * kLines; ++line) {
        const std::vector<uint8_t>& colour = line % 2 == 0 ? kWhite32 : kBlack32;
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint32_t at = kTarget + line * kLineBytes + x * kBytes;
            if (visible(line, x)) {
                wrongVisible += filledWith(at, kBytes, colour) ? 0 : 1;
            } else {
                touchedHidden += untouched(at, kBytes) ? 0 : 1;
            }
        }
    }
    EXPECT_EQ(wrongVisible, 0u);
    EXPECT_EQ(touchedHidden, 0u);
    EXPECT_TRUE(untouched(kTarget + kFrameBytes, 4096));
}

TEST_F(TernCardDma, MalformedProgramsStopTheEngineWithAnErrorBit) {
    struct Case {
        const char* what;
        std::function<void(ProgramWriter&)> write;
        uint32_t error;
    };
    const std::vector<Case> cases{
        {"unknown opcode", [](ProgramWriter& p) { p.pair(dma::kSyncFirst, 0).pair(dma::kSyncData, 0).pair(0x50000000, 0); },
         kIntDmaBadOpcode},
        {"reserved bits", [](ProgramWriter& p) { p.pair(dma::kSyncFirst, 0).pair(dma::kWriteLine | 0x100000 | 64, kTarget); },
         kIntDmaBadOpcode},
        {"target outside memory",
         [](ProgramWriter& p) { p.pair(dma::kSyncFirst, 0).pair(dma::kSyncData, 0).pair(dma::kWriteLine | 64, 0xD0000000); },
         kIntDmaWriteFault},
        {"target crossing the end of RAM",
         [](ProgramWriter& p) { p.pair(dma::kSyncFirst, 0).pair(dma::kWriteLine | 64, 32 * kMiB - 32); },
         kIntDmaWriteFault},
        {"jump outside memory", [](ProgramWriter& p) { p.pair(dma::kJump, 0xFFFFFFF0); }, kIntDmaFetchFault},
        {"misaligned jump", [](ProgramWriter& p) { p.pair(dma::kJump, kProgram + 2); }, kIntDmaFetchFault},
        {"never syncs", [](ProgramWriter& p) { p.pair(dma::kWriteLine | 64, kTarget).jumpToStart(); }, kIntDmaSyncMissing},
        {"jumps to itself", [](ProgramWriter& p) { p.jumpToStart(); }, kIntDmaSyncMissing},
        {"a line that never ends",
         [](ProgramWriter& p) {
             p.pair(dma::kSyncFirst, 0).pair(dma::kSyncData, 0).word(dma::kOpSkip | dma::kFirstPiece | 4);
             const uint32_t loop = p.here();
             p.word(dma::kOpSkip | 4).pair(dma::kJump, loop);
         },
         kIntDmaSyncMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h().stopDma();
        std::memset(h().ram(kProgram), 0, 4096);
        std::memset(h().ram(kTarget), kUntouched, 4096);
        ProgramWriter p(h(), kProgram);
        c.write(p);
        h().startDma();
        ASSERT_TRUE(waitFor([&] { return h().read(kIntStatus) & kIntDmaErrors; }));
        EXPECT_EQ(h().read(kIntStatus) & kIntDmaErrors, c.error);
        // Stopped: the program counter stays put and nothing more happens.
        const uint32_t pc = h().read(kProgramCounter);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(h().waitOdd());
        EXPECT_EQ(h().read(kProgramCounter), pc);
        if (c.error != kIntDmaSyncMissing) {
            EXPECT_TRUE(untouched(kTarget, 4096));
        }
        h().write(kIntStatus, kIntDmaErrors);
    }
    EXPECT_EQ(h().read(kPixelFormat), 0x00u);  // the card itself carried on

    // A sound program after a fault: clearing the errors and enabling again restarts.
    h().stopDma();
    std::memset(h().ram(kTarget), kUntouched, 4096);
    ProgramWriter good(h(), kProgram);
    good.field(dma::kSyncFirst, kTarget, 4, 64, 128).jumpToStart();
    h().startDma();
    EXPECT_TRUE(waitFor([&] { return filledWith(kTarget + 384, 64, kWhite32); }));
    h().stopDma();
}

}  // namespace
}  // namespace lxhw::tern::testing
