// The DMA engine: runs the program from physical memory, field by field.
//
// Started at REG_PROGRAM_START. A field sync (SYNC_FIRST / SYNC_SECOND)
// makes the engine wait for the start of the next field of that parity; the
// line instructions after it take that field's lines in order, one output
// line per line (a line is a whole-line instruction or a run of pieces from
// a first to a last piece; skips advance through the line without writing).
// Lines are paced through the field by the field thread; whatever is left
// of a block when its field ends is finished at once, so a block's lines
// always come from its own field. JUMP continues at its target.
//
// The program counter is the physical address of the instruction being
// executed, or of the sync the engine waits at.
//
// Faults stop the engine and are reported as REG_INT_STATUS error bits:
// an unknown instruction, a fetch outside physical memory (or misaligned),
// a line target outside RAM and VRAM (nothing of that piece is written),
// or a runaway program: more than 1024 lines without reaching a sync, or
// more instructions than fit in the time of one line without finishing a
// line. Like the card's, the bound is time, not program length: a field of
// masked lines of any length runs, a loop that never writes or syncs stops.
#pragma once

#include <atomic>
#include <cstdint>

#include "lxmachine/hw/terncard/decoder.h"

namespace lxhw {
class PhysicalMemory;
}

namespace lxhw::tern {

class DmaEngine {
public:
    static constexpr uint32_t kMaxLinesPerField = 1024;
    // A line holds at most 4095 bytes (the count field), so at most 4095
    // pieces; twice that, with what lies between two lines, is more than a
    // line's time allows.
    static constexpr uint32_t kMaxInstructionsPerLine = 8192;

    explicit DmaEngine(PhysicalMemory* memory) : memory_(memory) {}

    void start(uint32_t programStart);
    void stop();
    // Card reset: stopped, program counter 0.
    void reset();
    bool running() const { return state_ == State::Running || state_ == State::WaitingSync; }
    uint32_t programCounter() const { return pc_.load(std::memory_order_relaxed); }

    // A field of `parity` (0 first, 1 second) begins. True when the engine
    // leaves the sync at the program start for it.
    bool fieldStart(uint32_t parity);
    // Runs until `lineLimit` lines of the current field are done, a sync is
    // reached or a fault happens. Returns the fault's error bits, or 0.
    uint32_t run(uint32_t lineLimit, FieldRenderer& renderer);

private:
    enum class State { Idle, Running, WaitingSync, Halted };
    bool fetch(uint32_t address, uint32_t* word) const;
    uint32_t fault(uint32_t bits);
    void endLine();

    PhysicalMemory* const memory_;
    State state_ = State::Idle;
    uint32_t programStart_ = 0;
    std::atomic<uint32_t> pc_{0};  // read by register accesses on other threads
    uint32_t waitParity_ = 0;
    uint32_t linesDone_ = 0;   // lines of the current field
    uint32_t sinceLine_ = 0;   // instructions since a line was last finished (or a sync left)
    bool lineOpen_ = false;
    uint32_t lineOffset_ = 0;
    const uint8_t* lineData_ = nullptr;
    uint32_t lineDataBytes_ = 0;
};

}  // namespace lxhw::tern
