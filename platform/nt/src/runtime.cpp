#include "runtime.h"

#include <atomic>

namespace nt {
namespace {

std::atomic<Runtime*> g_runtime{nullptr};
thread_local UserProcess* t_process = nullptr;

}  // namespace

Runtime* runtime() { return g_runtime.load(std::memory_order_acquire); }
void setRuntime(Runtime* value) { g_runtime.store(value, std::memory_order_release); }

UserProcess* currentProcess() { return t_process; }

ProcessContext::ProcessContext(UserProcess* process) : previous_(t_process) { t_process = process; }
ProcessContext::~ProcessContext() { t_process = previous_; }

}  // namespace nt
