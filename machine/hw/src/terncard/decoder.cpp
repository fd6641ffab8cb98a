#include "lxmachine/hw/terncard/decoder.h"

#include <algorithm>
#include <cmath>

namespace lxhw::tern {
namespace {

constexpr YuvSample kBlack{16, 128, 128, 0};

uint32_t reg(const RegisterSnapshot& r, uint32_t offset) { return r[offset / 4]; }

int32_t floorDiv2(int32_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

// The scale register is 16 bits; values from 0xF000 up are the negative
// values of enlarging ratios (output wider than input).
double horizontalRatio(int32_t h, VideoStandard standard, bool* exactOne) {
    static constexpr int32_t kPal[] = {828, 5753, 15602, 35301};
    static constexpr int32_t kNtsc[] = {682, 5461, 15018, 34330};
    const int32_t* fixed = standard == VideoStandard::Pal ? kPal : kNtsc;
    *exactOne = h == fixed[0];
    for (int i = 0; i < 4; ++i) {
        if (h == fixed[i]) return double(1 << i);
    }
    const double k = standard == VideoStandard::Pal ? 1.2005209 : 1.178125;
    return std::clamp((h / 4096.0 + 1.0) / k, 0.125, 16.0);
}

}  // namespace

VideoStandard standardOf(const RegisterSnapshot& regs) {
    const uint32_t s = reg(regs, kInputFormat) & kFormatStandardMask;
    return s == kFormatNtsc || s == 2 ? VideoStandard::Ntsc : VideoStandard::Pal;
}

FieldGeometry geometryOf(const RegisterSnapshot& regs, bool secondField) {
    const uint32_t set = secondField ? uint32_t{kSetB} : 0u;
    const uint32_t high = reg(regs, kHighBitsA + set);
    FieldGeometry g;
    g.standard = standardOf(regs);
    const StandardTiming& t = timingOf(g.standard);

    g.outWidth = reg(regs, kHActiveA + set) | (high & 3) << 8;
    const auto raw = static_cast<int32_t>((reg(regs, kHScaleHiA + set) & 0xFF) << 8 | (reg(regs, kHScaleLoA + set) & 0xFF));
    const int32_t h = raw >= 0xF000 ? raw - 0x10000 : raw;
    bool exactOne = false;
    const double rx = horizontalRatio(h, g.standard, &exactOne);
    g.inWidth = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(g.outWidth * rx)));
    int32_t base = 0;
    if (g.standard == VideoStandard::Pal) {
        base = exactOne ? 154 : static_cast<int32_t>(uint64_t{g.outWidth} * 186 * 768 / (uint64_t{g.inWidth} * 922));
    } else {
        base = exactOne ? 114 : static_cast<int32_t>(g.outWidth * 0.1790451) & 0x3FE;
    }
    base = base / 2 * 2;
    const int32_t delay = static_cast<int32_t>(reg(regs, kHDelayA + set) | ((high >> 2) & 3) << 8);
    g.x0 = exactOne ? delay - base : static_cast<int32_t>(std::lround((delay - base) * 922.0 / 763.0));

    const uint32_t vactive = reg(regs, kVActiveA + set) | ((high >> 4) & 3) << 8;
    g.inLines = vactive / 2;
    const uint32_t v = (reg(regs, kVScaleHiA + set) & 0x1F) << 8 | reg(regs, kVScaleLoA + set);
    const double ry = 1.0 + ((8192 - v) & 0x1FFF) / 512.0;
    g.outLines = static_cast<uint32_t>(std::lround(g.inLines / ry));
    const int32_t vdelay = static_cast<int32_t>(reg(regs, kVDelayA + set) | ((high >> 6) & 3) << 8);
    g.y0 = floorDiv2(vdelay - static_cast<int32_t>(t.firstActiveLine));
    return g;
}

PictureSettings pictureOf(const RegisterSnapshot& regs) {
    PictureSettings p;
    const uint32_t control = reg(regs, kControlA);
    p.brightness = static_cast<int8_t>(reg(regs, kBrightness));
    p.hue = static_cast<int8_t>(reg(regs, kHue));
    p.contrast = static_cast<int>((reg(regs, kContrast) & 0xFF) | (control & kControlContrastBit8 ? 256 : 0));
    p.saturationU = static_cast<int>((reg(regs, kSatU) & 0xFF) | (control & kControlSatUBit8 ? 256 : 0));
    p.saturationV = static_cast<int>((reg(regs, kSatV) & 0xFF) | (control & kControlSatVBit8 ? 256 : 0));
    // With the separate chroma input selected, colour arrives only once the
    // source control has switched the chroma converter away from the composite signal.
    const bool separate = control & kControlSeparateChroma;
    p.chroma = !separate || !(reg(regs, kSourceControl) & kSourceCompositeChroma);
    p.fullRangeGrey = reg(regs, kPixelOptions) & kPixelOptionsFullRange;
    p.format = pixelFormatOf(reg(regs, kPixelFormat));
    return p;
}

FieldRenderer::FieldRenderer() = default;

void FieldRenderer::prepare(const RegisterSnapshot& regs, std::shared_ptr<VideoSource> source, uint64_t fieldNumber) {
    const FieldGeometry g = geometryOf(regs, fieldNumber & 1);
    const PictureSettings before = colour_.settings();
    colour_.configure(pictureOf(regs));
    if (!(colour_.settings() == before) || g.standard != geometry_.standard || source != source_) ++generation_;
    source_ = std::move(source);
    fieldNumber_ = fieldNumber;
    const bool widthChanged = g.outWidth != geometry_.outWidth || g.inWidth != geometry_.inWidth ||
                              g.x0 != geometry_.x0 || g.standard != geometry_.standard || xIndex_.empty();
    geometry_ = g;
    sourceWidth_ = timingOf(g.standard).width;
    if (widthChanged) {
        xIndex_.resize(g.outWidth);
        for (uint32_t i = 0; i < g.outWidth; ++i) {
            const int64_t x = g.x0 + static_cast<int64_t>(uint64_t{i} * g.inWidth / std::max<uint32_t>(g.outWidth, 1));
            xIndex_[i] = x >= 0 && x < sourceWidth_ ? static_cast<uint32_t>(x) : sourceWidth_;
        }
        // Output pixels up to the last one taken from a head sample; even, so
        // a YUV 4:2:2 pair is stored whole.
        headReach_ = 0;
        for (uint32_t i = 0; i < g.outWidth; ++i)
            if (xIndex_[i] < kMaxHeadSamples) headReach_ = i + 1;
        headReach_ = std::min(g.outWidth, headReach_ + (headReach_ & 1));
    }
    lineBytes_ = g.outWidth * bytesPerPixel(format());
    lineBuffer_.resize(lineBytes_ + 4);
    stored_ = false;
    if (widthChanged || storedLinesGeneration_ != generation_) {
        dropStoredLines();
        storedLinesGeneration_ = generation_;
    }
    storeBlack();
}

void FieldRenderer::dropStoredLines() {
    for (auto& entry : storedLines_) spareLines_.push_back(std::move(entry.second));
    storedLines_.clear();
    storedLinesBytes_ = 0;
}

void FieldRenderer::storeBlack() {
    blackPacked_.assign(sourceWidth_ + 1, colour_.convertOne(kBlack));
    blackLine_.resize(lineBytes_ + 4);
    storePixels(format(), blackPacked_.data(), xIndex_.data(), geometry_.outWidth, blackLine_.data());
}

uint32_t* FieldRenderer::convertedLine(const SourceLine& source) {
    CachedLine& slot = cache_[(source.key ^ (source.key >> 32) ^ (source.key >> 13)) % cache_.size()];
    if (slot.generation == generation_ && slot.key == source.key && !slot.packed.empty()) return slot.packed.data();
    slot.packed.resize(sourceWidth_ + 1);
    colour_.convert(source.samples, sourceWidth_, slot.packed.data());
    slot.packed[sourceWidth_] = blackPacked_[0];
    slot.key = source.key;
    slot.generation = generation_;
    return slot.packed.data();
}

const uint8_t* FieldRenderer::line(uint32_t j) {
    const FieldGeometry& g = geometry_;
    if (!source_ || j >= g.outLines || g.outWidth == 0) return blackLine_.data();
    const int64_t fieldLine = g.y0 + static_cast<int64_t>(uint64_t{j} * g.inLines / std::max<uint32_t>(g.outLines, 1));
    const StandardTiming& t = timingOf(g.standard);
    if (fieldLine < 0 || fieldLine >= t.frameLines / 2) return blackLine_.data();
    const auto frameLine = static_cast<uint32_t>(2 * fieldLine + (fieldNumber_ & 1));
    const SourceLine source = source_->line(g.standard, fieldNumber_, frameLine);
    const uint32_t head = std::min({source.headSamples, kMaxHeadSamples, sourceWidth_});
    if (!source.head || head == 0) {
        if (auto found = storedLines_.find(source.key); found != storedLines_.end()) return found->second.data();
        if (storedLinesBytes_ + lineBytes_ > kStoredLinesBytes) dropStoredLines();
        std::vector<uint8_t>& stored = storedLines_[source.key];
        if (!spareLines_.empty()) {  // pictures that change every field cost no allocation per line
            stored = std::move(spareLines_.back());
            spareLines_.pop_back();
        }
        stored.resize(lineBytes_ + 4);
        storePixels(format(), convertedLine(source), xIndex_.data(), g.outWidth, stored.data());
        storedLinesBytes_ += stored.size();
        return stored.data();
    }
    // Lines of one key differ at most in their heads: a line whose key is
    // already in lineBuffer_ costs the pixels a head may reach, not the whole line.
    uint32_t* packed = convertedLine(source);
    const uint32_t storeCount = stored_ && storedKey_ == source.key ? headReach_ : g.outWidth;
    stored_ = true;
    storedKey_ = source.key;
    // The head goes over the cached line only while this line is stored, so
    // a line with a head costs its head, not a whole conversion.
    std::array<uint32_t, kMaxHeadSamples> kept;
    std::copy_n(packed, head, kept.begin());
    convertHead(source.head, head, packed);
    storePixels(format(), packed, xIndex_.data(), storeCount, lineBuffer_.data());
    std::copy_n(kept.begin(), head, packed);
    return lineBuffer_.data();
}

// Heads are drawn in few values (a stamp in two): each distinct value met is
// converted once while it stays one of the last two seen. The choice between
// those two is made without a branch, since a stamp's bits are not predictable.
void FieldRenderer::convertHead(const YuvSample* in, uint32_t count, uint32_t* out) const {
    auto valueOf = [](const YuvSample& s) { return uint32_t{s.y} | uint32_t{s.u} << 8 | uint32_t{s.v} << 16; };
    uint32_t seen0 = valueOf(in[0]), seen1 = seen0;
    uint32_t packed0 = colour_.convertOne(in[0]), packed1 = packed0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t v = valueOf(in[i]);
        if (v != seen0 && v != seen1) [[unlikely]] {
            seen1 = seen0;
            packed1 = packed0;
            seen0 = v;
            packed0 = colour_.convertOne(in[i]);
        }
        out[i] = v == seen0 ? packed0 : packed1;
    }
}

}  // namespace lxhw::tern
