#include "lxmachine/hw/terncard/dma_engine.h"

#include <algorithm>
#include <cstring>

#include "lxmachine/hw/physical_memory.h"
#include "lxmachine/hw/terncard/dma_program.h"

namespace lxhw::tern {

void DmaEngine::start(uint32_t programStart) {
    programStart_ = programStart;
    pc_ = programStart;
    state_ = State::Running;
    linesDone_ = 0;
    sinceLine_ = 0;
    lineOpen_ = false;
}

void DmaEngine::stop() {
    state_ = State::Idle;
    lineOpen_ = false;
}

void DmaEngine::reset() {
    stop();
    pc_ = 0;
    programStart_ = 0;
}

bool DmaEngine::fetch(uint32_t address, uint32_t* word) const {
    if (!memory_ || address % 4 != 0) return false;
    uint8_t* host = memory_->hostAddress(address, 4);
    if (!host) return false;
    // The driver may rewrite parts of a running program: read each word once, whole.
    *word = __atomic_load_n(reinterpret_cast<const uint32_t*>(host), __ATOMIC_RELAXED);
    return true;
}

uint32_t DmaEngine::fault(uint32_t bits) {
    state_ = State::Halted;
    lineOpen_ = false;
    return bits;
}

void DmaEngine::endLine() {
    if (!lineOpen_) return;
    lineOpen_ = false;
    ++linesDone_;
    sinceLine_ = 0;
}

bool DmaEngine::fieldStart(uint32_t parity) {
    linesDone_ = 0;
    lineOpen_ = false;
    if (state_ != State::WaitingSync || parity != waitParity_) return false;
    const uint32_t syncAddress = pc_;
    pc_ = syncAddress + 8;
    sinceLine_ = 0;
    state_ = State::Running;
    return syncAddress == programStart_;
}

uint32_t DmaEngine::run(uint32_t lineLimit, FieldRenderer& renderer) {
    uint32_t pc = pc_;
    while (state_ == State::Running) {
        if (++sinceLine_ > kMaxInstructionsPerLine || linesDone_ > kMaxLinesPerField) {
            pc_ = pc;
            return fault(kIntDmaSyncMissing);
        }
        uint32_t word = 0, operand = 0;
        if (!fetch(pc, &word)) {
            pc_ = pc;
            return fault(kIntDmaFetchFault);
        }
        const uint32_t op = word & dma::kOpMask;
        if (op == 0x80000000) {
            if (word == dma::kSyncData) {
                pc += 8;
                continue;
            }
            if (word != dma::kSyncFirst && word != dma::kSyncSecond) {
                pc_ = pc;
                return fault(kIntDmaBadOpcode);
            }
            endLine();
            waitParity_ = word == dma::kSyncSecond ? 1 : 0;
            state_ = State::WaitingSync;
            pc_ = pc;
            return 0;
        }
        if (op == 0x70000000) {
            if (word != dma::kJump) {
                pc_ = pc;
                return fault(kIntDmaBadOpcode);
            }
            if (!fetch(pc + 4, &operand)) {
                pc_ = pc;
                return fault(kIntDmaFetchFault);
            }
            pc = operand;
            continue;
        }
        if ((op != dma::kOpWrite && op != dma::kOpSkip) || (word & dma::kReservedBits)) {
            pc_ = pc;
            return fault(kIntDmaBadOpcode);
        }
        const bool write = op == dma::kOpWrite;
        if ((word & dma::kFirstPiece) || !lineOpen_) {
            endLine();
            if (linesDone_ >= lineLimit) {  // this line's time in the field has not come yet
                pc_ = pc;
                return 0;
            }
            lineData_ = renderer.line(linesDone_);
            lineDataBytes_ = renderer.lineBytes();
            lineOffset_ = 0;
            lineOpen_ = true;
        }
        const uint32_t count = word & dma::kCountMask;
        if (write) {
            if (!fetch(pc + 4, &operand)) {
                pc_ = pc;
                return fault(kIntDmaFetchFault);
            }
            uint8_t* target = memory_->hostAddress(operand, std::max<uint32_t>(count, 1));
            if (!target) {
                pc_ = pc;
                return fault(kIntDmaWriteFault);
            }
            // Bytes past the decoder's line are written as zero.
            const uint32_t available = lineOffset_ < lineDataBytes_ ? lineDataBytes_ - lineOffset_ : 0;
            const uint32_t copied = std::min(count, available);
            if (copied) std::memcpy(target, lineData_ + lineOffset_, copied);
            if (count > copied) std::memset(target + copied, 0, count - copied);
        }
        lineOffset_ += count;
        pc += write ? 8 : 4;
        if (word & dma::kLastPiece) endLine();
        pc_ = pc;
    }
    pc_ = pc;
    return 0;
}

}  // namespace lxhw::tern
