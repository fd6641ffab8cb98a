// A private machine with two TernCards and a fast clock, booted through the
// lxmachine tool for one test and powered off after it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "private_machine.h"

namespace terncardvi_test {

struct CardLocation {
    unsigned bus = 0;
    unsigned device = 0;
    unsigned function = 0;
};

class CardMachine {
public:
    CardMachine();
    bool booted() const { return booted_; }
    lxm::testing::PrivateMachine& machine() { return *machine_; }
    // `lxmachine unplug terncard N [--surprise]`: the tool's exit status.
    int unplug(int number, bool surprise);
    // The cards' places as the machine reports them, in bus order.
    std::vector<CardLocation> cardLocations() const;
    std::string log() const;

private:
    std::unique_ptr<lxm::testing::PrivateMachine> machine_;
    bool booted_ = false;
};

}  // namespace terncardvi_test
