#include "lxmachine/hw/heron/heron_audio.h"

#include <algorithm>
#include <chrono>

namespace lxhw::heron {
namespace {

std::array<BarDescription, pci::kBarCount> registerBar(bool portSpace) {
    std::array<BarDescription, pci::kBarCount> bars{};
    bars[0] = BarDescription{portSpace ? kPortWindowSize : kMemoryWindowSize, portSpace, false, false};
    return bars;
}

PciIdentity audioIdentity() {
    PciIdentity id;
    id.vendor = pci::kLxVendor;
    id.device = pci::kHeronAudioDevice;
    id.baseClass = 0x04;
    id.subclass = 0x01;  // multimedia audio
    id.revision = 0x01;
    id.subsystemVendor = pci::kLxVendor;
    id.subsystem = 0x0001;
    return id;
}

bool isRegister(uint32_t base) { return base == reg::kStatus || base == reg::kControl || base == reg::kCauseSet; }

uint32_t laneMask(unsigned size) { return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1; }

}  // namespace

HeronAudio::HeronAudio(const HeronAudioSetup& setup)
    : PciFunction(audioIdentity(), registerBar(setup.portSpace), true),
      setup_(setup),
      scratch_(setup.portSpace ? kPortWindowSize : kMemoryWindowSize) {
    clock_ = std::thread([this] { runBlockClock(); });
}

HeronAudio::~HeronAudio() { powerOff(); }

void HeronAudio::powerOff() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    controlChanged_.notify_all();
    if (clock_.joinable()) clock_.join();
}

HeronAudio* asHeronAudio(PciFunction* function) { return dynamic_cast<HeronAudio*>(function); }

// Registers are 32 bits wide; byte and half-word accesses reach their lanes.
// Unaligned accesses and accesses past the window read all-ones and write nothing.
uint32_t HeronAudio::barRead(int barIndex, uint64_t offset, unsigned size) {
    if (barIndex != 0 || (size != 1 && size != 2 && size != 4) || offset % size || offset + size > windowSize())
        return laneMask(size);
    const auto at = static_cast<uint32_t>(offset);
    const uint32_t base = at & ~3u;
    std::lock_guard lock(mutex_);
    if (isRegister(base)) return (readRegister(base) >> (8 * (at - base))) & laneMask(size);
    uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= uint32_t{scratch_[at + i]} << (8 * i);
    return value;
}

void HeronAudio::barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) {
    if (barIndex != 0 || (size != 1 && size != 2 && size != 4) || offset % size || offset + size > windowSize())
        return;
    const auto at = static_cast<uint32_t>(offset);
    const uint32_t base = at & ~3u;
    std::lock_guard lock(mutex_);
    if (isRegister(base)) {
        const unsigned shift = 8 * (at - base);
        const uint32_t lanes = laneMask(size) << shift;
        const uint32_t bits = (value << shift) & lanes;
        if (base == reg::kControl) {
            // Lanes not written keep their bits.
            writeRegister(base, (control_ & ~lanes) | bits);
        } else {
            writeRegister(base, bits);
        }
        return;
    }
    for (unsigned i = 0; i < size; ++i) scratch_[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t HeronAudio::readRegister(uint32_t offset) {
    switch (offset) {
    case reg::kStatus: return status_;
    case reg::kControl: return control_;
    default: return 0;  // the cause-set register reads 0
    }
}

void HeronAudio::writeRegister(uint32_t offset, uint32_t value) {
    switch (offset) {
    case reg::kStatus:
        status_ &= ~value;
        if ((status_ & kCauseMask) == 0) lowerInterrupt();
        break;
    case reg::kControl: {
        const bool wasEnabled = (control_ & kBlockDone) != 0;
        control_ = value;
        if (wasEnabled != ((control_ & kBlockDone) != 0)) controlChanged_.notify_all();
        break;
    }
    case reg::kCauseSet: setCausesLocked(value); break;
    default: break;
    }
}

void HeronAudio::raiseCauses(uint32_t causes) {
    std::lock_guard lock(mutex_);
    setCausesLocked(causes);
}

void HeronAudio::setCausesLocked(uint32_t causes) {
    causes &= kCauseMask;
    if (causes == 0) return;
    status_ |= causes;
    interrupts_.fetch_add(1);
    raiseInterrupt();
}

// Blocks follow each other at the block rate from the moment blocks are
// enabled. When the host falls behind, missed blocks are dropped rather
// than raised in a burst: the status bit holds one pending block anyway.
void HeronAudio::runBlockClock() {
    using Clock = std::chrono::steady_clock;
    // At most 20000 blocks per host second: beyond that the interrupt path
    // cannot keep up anyway and the clock thread would only burn a core.
    const auto period = std::max<Clock::duration>(
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / (setup_.blockRate * setup_.clockFactor))),
        std::chrono::microseconds(50));
    std::unique_lock lock(mutex_);
    for (;;) {
        controlChanged_.wait(lock, [this] { return stopping_ || (control_ & kBlockDone) != 0; });
        if (stopping_) return;
        Clock::time_point next = Clock::now() + period;
        while (!stopping_ && (control_ & kBlockDone) != 0) {
            if (controlChanged_.wait_until(lock, next, [this] { return stopping_ || (control_ & kBlockDone) == 0; }))
                break;
            blocks_.fetch_add(1);
            setCausesLocked(kBlockDone);
            next += period;
            if (const Clock::time_point now = Clock::now(); next < now) next = now + period;
        }
    }
}

}  // namespace lxhw::heron
