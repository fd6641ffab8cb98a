// Internal: this process's attachment to the machine.
//
// The process holds one "process" connection for its whole life (its end, by
// exit or by kill, tells the machine the process is gone) and each thread
// holds a request connection of its own that joins the process; requests are
// synchronous on the calling thread's connection, so a request pending in one
// thread never holds up another. A thread connection carries its requests
// and replies in a shared-memory channel with futex doorbells
// (lxmachine/request_channel.h); its socket serves what does not fit there,
// replies with file descriptors, and the machine's call-backs
// (LX_MACHINE_CHANNEL=0 keeps everything on the socket). While a request
// runs, the machine may ask the process to map physical memory; the answer
// goes back on the same connection. A machine that is not running is booted (unless
// LX_MACHINE_NO_AUTOBOOT=1); after the machine rebooted, the next request
// attaches to the new boot (handles of the old one are void).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "lxmachine/frame_socket.h"
#include "lxmachine/wire.h"

namespace lx::win32::client {

struct MachineReply {
    int32_t status = 0;  // NT status, or a Win32 error for object requests
    uint32_t information = 0;
    uint64_t value = 0;
    std::vector<uint8_t> data;
    std::vector<lxm::UniqueFd> fds;
};

// Sends one request on the calling thread's connection and waits for its
// reply (serving map requests meanwhile). Nothing when the machine cannot be
// reached or went away; *attachment then says which boot the failure saw.
std::optional<MachineReply> callMachine(lxm::wire::Op op, std::span<const uint8_t> payload);

// Which attachment the calling process has; handles remember it so that a
// handle of an earlier boot is not sent to a later one. 0 when not attached.
uint64_t currentAttachment();
// True while the attachment `id` is the live one (no reboot or shutdown since);
// never connects.
bool attachmentAlive(uint64_t id);

// Maps [physical, physical + length) of the machine's memory into this
// process and records the view with the machine; null when the range is not
// memory of the machine. Removed with unmapPhysicalView.
void* mapPhysicalView(uint64_t physical, uint64_t length);
bool unmapPhysicalView(void* address);

// Records or forgets a view of a named object with the machine (status only).
void reportView(void* address, uint64_t length, uint64_t objectHandle);
void forgetView(void* address);

// While suspended (per thread, nesting), connecting never boots a machine.
void suspendAutoBoot();
void resumeAutoBoot();

}  // namespace lx::win32::client
