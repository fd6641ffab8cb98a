// The running kernel's parts, reachable from the exported routines. One
// kernel runs per process at a time; routines called with no kernel running
// fail as a missing device would.
#pragma once

#include <memory>
#include <string>

#include "nt/kernel_host.h"

namespace lxhw {
class PhysicalMemory;
class PciBus;
class DisplayAdapter;
}  // namespace lxhw

namespace nt {

class Log;
class Registry;
class ObjectNamespace;
class InterruptController;
class DpcQueue;
class MemoryManager;
class IoSpace;
class DriverLoader;
class PnpManager;
class FileTable;
class ProcessNotify;

struct Runtime {
    Log* log = nullptr;
    Registry* registry = nullptr;
    ObjectNamespace* objects = nullptr;
    InterruptController* interrupts = nullptr;
    DpcQueue* dpcs = nullptr;
    MemoryManager* memory = nullptr;
    IoSpace* ioSpace = nullptr;
    DriverLoader* drivers = nullptr;
    PnpManager* pnp = nullptr;
    FileTable* files = nullptr;
    lxhw::PhysicalMemory* physicalMemory = nullptr;
    lxhw::PciBus* pciBus = nullptr;
    ProcessNotify* processNotify = nullptr;
};

// Null when no kernel runs.
Runtime* runtime();
void setRuntime(Runtime* runtime);

// The process whose request the current thread carries out ("the caller's
// context"); null on system threads.
UserProcess* currentProcess();

class ProcessContext {
public:
    explicit ProcessContext(UserProcess* process);
    ~ProcessContext();
    ProcessContext(const ProcessContext&) = delete;
    ProcessContext& operator=(const ProcessContext&) = delete;

private:
    UserProcess* previous_;
};

}  // namespace nt
