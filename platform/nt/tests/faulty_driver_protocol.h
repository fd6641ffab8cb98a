// The faulty test driver's control codes: each breaks one rule of the kernel
// on purpose, so tests can show the machine stops with the right record.
#pragma once

#include <cstdint>

namespace nttest {

constexpr uint32_t faultCtl(uint32_t function) { return 0x8000u << 16 | function << 2; }  // buffered, any access
constexpr uint32_t kFaultEcho = faultCtl(0x901);                  // succeeds; information = 0
constexpr uint32_t kFaultNullDereference = faultCtl(0x902);      // writes through a null pointer
constexpr uint32_t kFaultBugCheck = faultCtl(0x903);             // KeBugCheckEx(0xE2, 0x11, 0x22, 0x33, 0x44)
constexpr uint32_t kFaultCompleteTwice = faultCtl(0x904);        // IoCompleteRequest twice
constexpr uint32_t kFaultSpinLockAtPassive = faultCtl(0x905);    // KeAcquireSpinLockAtDpcLevel at passive level
constexpr uint32_t kFaultSpinLockReentered = faultCtl(0x906);    // KeAcquireSpinLock on a lock it holds
constexpr uint32_t kFaultWaitAtDispatch = faultCtl(0x907);       // waits 50 ms for an event at dispatch level
constexpr uint32_t kFaultLeakPool = faultCtl(0x908);             // allocates pool it never frees
constexpr uint32_t kFaultPendForever = faultCtl(0x909);          // pending, never completed, not cancelable
constexpr uint32_t kFaultLeakMdl = faultCtl(0x90A);              // allocates an MDL it never frees
constexpr uint32_t kFaultQueueLongDpc = faultCtl(0x90B);         // queues a DPC that runs for 3 s (kLongDpcMs)
constexpr uint32_t kFaultFlushDpcs = faultCtl(0x90C);            // KeFlushQueuedDpcs, then succeeds
constexpr uint32_t kFaultPendingCount = faultCtl(0x90D);         // out: u32, requests it holds pending

// Loaded under a service whose name ends in "Entry", DriverEntry creates
// \Device\NtFaulty and \DosDevices\NtFaulty, then fails. Under one that
// ends in "Stuck", the driver never completes cleanup, close, power and
// remove requests.
constexpr const char* kFaultyDeviceLink = "\\\\.\\NtFaulty";
// As a PnP driver (its service has HardwareIds) AddDevice attaches a device
// reached through this link.
constexpr const char* kFaultyPnpLink = "\\\\.\\NtFaultyPnp";
constexpr uint32_t kLongDpcMs = 3000;

}  // namespace nttest
