#include "card_machine.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace terncardvi_test {
namespace {

constexpr const char* kConfig = R"([clock]
factor = 50.0

[memory]
ram_mb = 64

[[terncard]]
sources = ["none", "none", "none", "bars"]

[[terncard]]
sources = ["bars", "none", "none", "none"]
)";

}  // namespace

CardMachine::CardMachine() {
    ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
    machine_ = std::make_unique<lxm::testing::PrivateMachine>(LX_MACHINE_TOOL, kConfig);
    booted_ = machine_->boot();
}

int CardMachine::unplug(int number, bool surprise) {
    std::vector<std::string> arguments{"unplug", "terncard", std::to_string(number)};
    if (surprise) arguments.push_back("--surprise");
    return machine_->lxmachine(arguments).exitStatus;
}

std::vector<CardLocation> CardMachine::cardLocations() const {
    std::vector<CardLocation> cards;
    const std::string json = machine_->statusJson();
    static const std::regex device(R"(\{"bus":(\d+),"device":(\d+),"function":(\d+),[^{}]*"kind":"terncard")");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), device); it != std::sregex_iterator(); ++it) {
        cards.push_back({static_cast<unsigned>(std::stoul((*it)[1])), static_cast<unsigned>(std::stoul((*it)[2])),
                         static_cast<unsigned>(std::stoul((*it)[3]))});
    }
    return cards;
}

std::string CardMachine::log() const {
    std::ifstream in(machine_->directory() + "/daemon.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace terncardvi_test
