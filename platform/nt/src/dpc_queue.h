// Deferred procedure calls: one system thread runs queued DPCs in order, at
// dispatch level.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "ntddk.h"

namespace nt {

class DpcQueue {
public:
    DpcQueue();
    ~DpcQueue();  // runs what is queued, then stops the thread
    DpcQueue(const DpcQueue&) = delete;
    DpcQueue& operator=(const DpcQueue&) = delete;

    bool insert(PKDPC dpc, PVOID argument1, PVOID argument2);
    bool remove(PKDPC dpc);
    // Returns true once every DPC queued before the call has run; false
    // (logged, naming the driver of the DPC still running) after `limit`.
    bool flush(std::chrono::milliseconds limit);
    // Returns true once no DPC routine of `driver` is queued or running, so
    // its code may go; false (logged) after `limit`.
    bool flushDriver(PDRIVER_OBJECT driver, std::chrono::milliseconds limit);

private:
    void run();
    void logStuck(const std::string& what, std::chrono::milliseconds limit) const;  // under mutex_

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PKDPC> queue_;
    bool running_ = false;  // a DPC routine is executing
    PKDEFERRED_ROUTINE current_ = nullptr;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace nt
