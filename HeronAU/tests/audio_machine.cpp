#include "audio_machine.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace heronau_test {
namespace {

// A slow block clock: the tests drive the interrupts themselves, except
// where they enable the clock on purpose.
constexpr const char* kConfig = R"(terncard = []

[memory]
ram_mb = 64

[[heron_audio]]
rate = 400

[[heron_audio]]
rate = 400
port = true
)";

}  // namespace

AudioMachine::AudioMachine() {
    ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
    machine_ = std::make_unique<lxm::testing::PrivateMachine>(LX_MACHINE_TOOL, kConfig);
    booted_ = machine_->boot();
}

lxm::testing::ToolResult AudioMachine::plug(bool port) {
    std::vector<std::string> arguments{"plug", "heron_audio"};
    if (port) arguments.push_back("--port");
    return machine_->lxmachine(arguments);
}

int AudioMachine::unplug(int number, bool surprise) {
    std::vector<std::string> arguments{"unplug", "heron_audio", std::to_string(number)};
    if (surprise) arguments.push_back("--surprise");
    return machine_->lxmachine(arguments).exitStatus;
}

std::string AudioMachine::log() const {
    std::ifstream in(machine_->directory() + "/daemon.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace heronau_test
