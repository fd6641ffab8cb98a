// The device manager's state is process-wide and frozen by the first open,
// so each scenario that needs a newly attached device manager runs in a
// child process forked from a test program that has not touched that state.
#pragma once

#include <functional>

// Runs body in a child process; its assertion failures are printed there and
// make this call fail in the parent.
void expectInFreshProcess(const std::function<void()>& body);
