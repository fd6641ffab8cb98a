// Test support for the static-memory service: a private machine booted with
// the stack's own lxmachine (and so with HMBServ), the service's registry
// values, the machine's status counters and a peer client process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "private_machine.h"

namespace hmbtest {

// A fast clock and the default hardware.
inline constexpr char kFastMachine[] = "[clock]\nfactor = 20\n";

class StackMachine {
public:
    explicit StackMachine(const std::string& config = kFastMachine);
    ~StackMachine();
    StackMachine(const StackMachine&) = delete;
    StackMachine& operator=(const StackMachine&) = delete;

    bool booted() const { return booted_; }
    bool reboot();
    bool shutdown();
    bool boot();
    bool setDisplay(const std::string& mode);  // "WIDTHxHEIGHTxBITS"
    void writeConfig(const std::string& text) { machine_.writeConfig(text); }
    std::string statusJson() const { return machine_.statusJson(); }

private:
    lxm::testing::PrivateMachine machine_;
    bool booted_ = false;
};

// Values under the service's Parameters key, through the compat layer.
bool readParameter(const char* name, uint32_t* value);
bool writeParameter(const char* name, uint32_t value);
bool deleteParameter(const char* name);

// Contiguous blocks that processes own, summed over the status report.
size_t processBlockCount(const std::string& statusJson);
// The machine's free contiguous bytes from the status report.
uint64_t contiguousFreeBytes(const std::string& statusJson);

// Runs the peer client with commands; one output line per command.
lxm::testing::ToolResult runPeer(const std::vector<std::string>& commands);

// A peer started in the background; it reports "holding" and then waits
// (bounded) to be killed.
class HoldingPeer {
public:
    explicit HoldingPeer(const std::vector<std::string>& commands);
    ~HoldingPeer();
    HoldingPeer(const HoldingPeer&) = delete;
    HoldingPeer& operator=(const HoldingPeer&) = delete;

    // Output up to and including the "holding" line; empty on a timeout.
    const std::string& output() const { return output_; }
    void kill();

private:
    int pid_ = -1;
    std::string output_;
};

// Waits, bounded, until the predicate holds for the status report.
template <typename Predicate>
bool waitForStatus(const StackMachine& machine, Predicate predicate);

}  // namespace hmbtest

#include "stack_machine_wait.h"
