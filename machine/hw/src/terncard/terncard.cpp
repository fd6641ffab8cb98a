#include "lxmachine/hw/terncard/terncard.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace lxhw::tern {
namespace {

std::array<BarDescription, pci::kBarCount> cardBars() {
    std::array<BarDescription, pci::kBarCount> bars{};
    bars[0] = BarDescription{kRegisterWindowSize, false, false, false};
    return bars;
}

PciIdentity cardIdentity(uint8_t revision) {
    PciIdentity id;
    id.vendor = pci::kLxVendor;
    id.device = pci::kTernCardDevice;
    id.baseClass = 0x04;  // multimedia
    id.subclass = 0x00;   // video
    id.revision = revision;
    id.subsystemVendor = pci::kLxVendor;
    id.subsystem = 0x0001;
    return id;
}

}  // namespace

TernCard::TernCard(const TernCardSetup& setup, PhysicalMemory* memory)
    : PciFunction(cardIdentity(setup.revision), cardBars(), true),
      clock_(setup.clockFactor),
      memory_(memory),
      controller_(setup.signature, setup.revision, setup.serial),
      i2c_(&clock_),
      gpio_(setup.boardSwitch),
      engine_(memory) {
    for (uint32_t k = 0; k < kRegisterCells; ++k) regs_[k].store(kInitialRegisters[k]);
    for (int input = 0; input < kInputs; ++input) {
        inputSignal_[input].store(false);
        std::string error;
        if (!setSource(input, setup.sources[input], &error)) {
            setupErrors_ += "input " + std::to_string(input) + ": " + error + "\n";
            setSource(input, "none", &error);
        }
    }
    i2c_.attach(BoardController::kAddress, &controller_);
    renderer_.prepare(snapshot(), selectedSource(snapshot()), 0);
    fieldThread_ = std::thread([this] { fieldLoop(); });
}

TernCard::~TernCard() { powerOff(); }

void TernCard::powerOff() {
    {
        std::lock_guard lock(engineMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (fieldThread_.joinable()) fieldThread_.join();
}

bool TernCard::setSource(int input, const std::string& name, std::string* error) {
    if (input < 0 || input >= kInputs) {
        *error = "input must be 0 to 3";
        return false;
    }
    std::shared_ptr<VideoSource> source = makeVideoSource(name, error);
    if (!source) return false;
    std::lock_guard lock(sourcesMutex_);
    inputSignal_[input].store(source->hasSignal());
    sources_[input] = std::move(source);
    return true;
}

std::string TernCard::sourceName(int input) const {
    if (input < 0 || input >= kInputs) return {};
    std::lock_guard lock(sourcesMutex_);
    return sources_[input] ? sources_[input]->name() : "none";
}

bool TernCard::setBoardSwitch(uint32_t bits, std::string* error) {
    if (bits > 3) {
        *error = "the board switch has two lines: 0 to 3";
        return false;
    }
    gpio_.setBoardSwitch(static_cast<uint8_t>(bits));
    return true;
}

RegisterSnapshot TernCard::snapshot() const {
    RegisterSnapshot s;
    for (uint32_t k = 0; k < kRegisterCells; ++k) s[k] = regs_[k].load(std::memory_order_relaxed);
    return s;
}

std::shared_ptr<VideoSource> TernCard::selectedSource(const RegisterSnapshot& regs) const {
    const uint32_t mux = (regs[kInputFormat / 4] & kFormatMuxMask) >> kFormatMuxShift;
    std::lock_guard lock(sourcesMutex_);
    return sources_[mux];
}

TernCard* asTernCard(PciFunction* function) { return dynamic_cast<TernCard*>(function); }

// ---- register window ----

uint32_t TernCard::barRead(int barIndex, uint64_t offset, unsigned size) {
    if (barIndex != 0 || offset >= kRegisterWindowSize || (size != 1 && size != 2 && size != 4) || offset % size)
        return PciFunction::barRead(barIndex, offset, size);
    const uint32_t word = read32(static_cast<uint32_t>(offset & ~uint64_t{3}));
    if (size == 4) return word;
    return (word >> (8 * (offset & 3))) & ((1u << (8 * size)) - 1);
}

void TernCard::barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) {
    if (barIndex != 0 || offset >= kRegisterWindowSize || (size != 1 && size != 2 && size != 4) || offset % size)
        return;
    const auto aligned = static_cast<uint32_t>(offset & ~uint64_t{3});
    if (size == 4) return write32(aligned, value);
    const uint32_t shift = 8 * static_cast<uint32_t>(offset & 3);
    const uint32_t mask = ((1u << (8 * size)) - 1) << shift;
    // Write-ones-to-clear bits must not see the untouched bytes as ones.
    const uint32_t current = aligned == kIntStatus ? 0 : read32(aligned);
    write32(aligned, (current & ~mask) | ((value << shift) & mask));
}

uint32_t TernCard::read32(uint32_t offset) {
    switch (offset) {
    case kVideoStatus: {
        const uint32_t mux = (regs_[kInputFormat / 4].load() & kFormatMuxMask) >> kFormatMuxShift;
        return (inputSignal_[mux].load() ? kStatusSignalPresent : 0) |
               (secondField_.load(std::memory_order_acquire) ? kStatusSecondField : 0);
    }
    case kIntStatus:
        if (const uint32_t done = i2c_.completedStatus()) {
            intStatus_.fetch_or(done);
            updateInterrupt();
        }
        return intStatus_.load();
    case kFieldCount: return fieldCount_.load() & 0xFFFF;
    case kFieldEndTimeLo: {
        const uint64_t ns = fieldEndNs_.load();
        latchedEndTimeHi_.store(static_cast<uint32_t>(ns >> 32));
        return static_cast<uint32_t>(ns);
    }
    case kFieldEndTimeHi: return latchedEndTimeHi_.load();
    case kI2c: return i2c_.readRegister();
    case kProgramCounter: return engine_.programCounter();
    case kGpioData: return gpio_.read();
    case kGpioEnable: return gpio_.enable();
    default: return offset / 4 < kRegisterCells && storedBits(offset) ? regs_[offset / 4].load() : 0;
    }
}

void TernCard::write32(uint32_t offset, uint32_t value) {
    switch (offset) {
    case kReset:
        if (value == 0) resetCard();
        return;
    case kIntStatus:
        intStatus_.fetch_and(~value);
        updateInterrupt();
        return;
    case kFieldCount:
        if (value == 0) {
            std::lock_guard lock(engineMutex_);
            fieldCount_.store(0);
            countAligned_ = false;
        }
        return;
    case kI2c:
        intStatus_.fetch_and(~(kIntI2cDone | kIntI2cAck));
        regs_[kI2c / 4].store(value);
        i2c_.command(value);
        updateInterrupt();
        return;
    case kGpioData: gpio_.writeData(value); return;
    case kGpioEnable:
        gpio_.writeEnable(value);
        regs_[offset / 4].store(value & storedBits(offset));
        return;
    case kCaptureControl:
    case kDmaControl: {
        std::lock_guard lock(engineMutex_);
        regs_[offset / 4].store(value & storedBits(offset));
        applyEnable();
        return;
    }
    case kIntEnable:
        regs_[offset / 4].store(value);
        updateInterrupt();
        return;
    default:
        if (offset / 4 < kRegisterCells) {
            if (const uint32_t bits = storedBits(offset)) regs_[offset / 4].store(value & bits);
        }
        return;
    }
}

void TernCard::resetCard() {
    std::lock_guard lock(engineMutex_);
    engine_.reset();
    for (uint32_t k = 0; k < kRegisterCells; ++k) regs_[k].store(kInitialRegisters[k]);
    intStatus_.store(0);
    fieldCount_.store(0);
    countAligned_ = false;
    i2c_.reset();
    gpio_.reset();
    updateInterrupt();
}

// Called with the engine lock held. Both enables at 3 run the engine; a write
// that leaves them so restarts an engine that stopped on a fault.
void TernCard::applyEnable() {
    const bool enabled = (regs_[kCaptureControl / 4].load() & kEnableBits) == kEnableBits &&
                         (regs_[kDmaControl / 4].load() & kEnableBits) == kEnableBits;
    if (enabled && !engine_.running()) {
        engine_.start(regs_[kProgramStart / 4].load());
    } else if (!enabled) {
        engine_.stop();
    }
}

void TernCard::updateInterrupt() {
    std::lock_guard lock(interruptMutex_);
    const bool pending = (intStatus_.load() & regs_[kIntEnable / 4].load()) != 0;
    if (pending && !interruptAsserted()) raiseInterrupt();
    if (!pending && interruptAsserted()) lowerInterrupt();
}

bool TernCard::busMaster() const { return configRead(pci::kCommand, 2) & pci::kCommandBusMaster; }

void TernCard::reportFault(uint32_t bits) {
    if (!bits) return;
    intStatus_.fetch_or(bits);
    updateInterrupt();
}

TernCard::EngineReport TernCard::engineReport() {
    std::lock_guard lock(engineMutex_);
    EngineReport report;
    report.running = engine_.running();
    report.programStart = regs_[kProgramStart / 4].load();
    report.programCounter = engine_.programCounter();
    report.errorBits = intStatus_.load() & kIntDmaErrors;
    report.fieldCount = fieldCount_.load() & 0xFFFF;
    report.fieldNumber = fieldNumber_.load();
    return report;
}

// ---- field timing ----

uint32_t TernCard::linesDue(uint32_t slice) const {
    const uint32_t lines = renderer_.geometry().outLines;
    return static_cast<uint32_t>((uint64_t{lines} * slice + kSlicesPerField - 1) / kSlicesPerField);
}

void TernCard::beginField() {
    const uint64_t number = fieldNumber_.load() + 1;
    const auto parity = static_cast<uint32_t>(number & 1);
    const RegisterSnapshot regs = snapshot();
    renderer_.prepare(regs, selectedSource(regs), number);
    if (engine_.running()) {
        if (countAligned_) fieldCount_.fetch_add(1);
        if (engine_.fieldStart(parity) && !countAligned_) {
            countAligned_ = true;
            fieldCount_.store(1);
        }
        if (busMaster()) reportFault(engine_.run(0, renderer_));
    } else {
        engine_.fieldStart(parity);
    }
    fieldNumber_.store(number);
    intStatus_.fetch_or(kIntFieldStart);
    secondField_.store(parity, std::memory_order_release);
    updateInterrupt();
}

void TernCard::endField() {
    // Latched before the engine finishes the field: whoever sees the program
    // counter leave the field's lines reads this field's end.
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();  // CLOCK_MONOTONIC on Linux
    fieldEndNs_.store(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceBoot).count()));
    if (engine_.running() && busMaster()) reportFault(engine_.run(DmaEngine::kMaxLinesPerField + 1, renderer_));
}

void TernCard::fieldLoop() {
    std::unique_lock lock(engineMutex_);
    uint64_t fieldStart = clock_.now();
    uint32_t slice = 0;
    while (!stopping_) {
        const double fieldNs = 1e9 / timingOf(renderer_.geometry().standard).fieldsPerSecond;
        // An idle engine needs no pacing: wake only for the next field.
        if (!engine_.running()) slice = kSlicesPerField - 1;
        const auto due = fieldStart + static_cast<uint64_t>(fieldNs * (slice + 1) / kSlicesPerField);
        wake_.wait_until(lock, clock_.hostTimeOf(due), [this] { return stopping_; });
        if (stopping_) break;
        const uint64_t now = clock_.now();
        if (now < due) continue;
        if (slice + 1 < kSlicesPerField) {
            ++slice;
            if (engine_.running() && busMaster()) reportFault(engine_.run(linesDue(slice), renderer_));
            continue;
        }
        endField();
        // A thread that fell more than a slice behind drops the lost time
        // rather than rushing the next field through: a card never makes a
        // field shorter than its standard's, and a driver that keeps up with
        // the card in real time must keep up with the model too.
        fieldStart = now - due > static_cast<uint64_t>(fieldNs / kSlicesPerField) ? now : due;
        slice = 0;
        beginField();
    }
}

}  // namespace lxhw::tern
