#pragma once

#include <chrono>
#include <thread>

namespace hmbtest {

template <typename Predicate>
bool waitForStatus(const StackMachine& machine, Predicate predicate) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (predicate(machine.statusJson())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace hmbtest
