// A private machine with no capture card and two audio functions, the first
// in memory space and the second in I/O port space, booted through the
// lxmachine tool for one test and powered off after it.
#pragma once

#include <memory>
#include <string>

#include "private_machine.h"

namespace heronau_test {

class AudioMachine {
public:
    AudioMachine();
    bool booted() const { return booted_; }
    lxm::testing::PrivateMachine& machine() { return *machine_; }
    // `lxmachine plug heron_audio [--port]`: the tool's output and exit status.
    lxm::testing::ToolResult plug(bool port);
    // `lxmachine unplug heron_audio N [--surprise]`: the tool's exit status.
    int unplug(int number, bool surprise);
    std::string log() const;

private:
    std::unique_ptr<lxm::testing::PrivateMachine> machine_;
    bool booted_ = false;
};

}  // namespace heronau_test
