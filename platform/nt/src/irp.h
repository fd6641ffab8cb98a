// IRP plumbing shared by the I/O manager's parts: synchronous requests sent
// by the kernel itself (user I/O, PnP, power) and the final completion.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "ntddk.h"

namespace nt {

// Set on IRPs whose sender waits for them and frees them itself.
constexpr ULONG kIrpSenderOwned = 0x40000000;

// Builds an IRP for `target`'s stack, lets `prepare` fill the first stack
// location, sends it and waits for its completion. `inFlight` is called with
// the IRP before it is sent and with null once it has completed, so a
// caller can cancel it meanwhile. Returns the final status block.
IO_STATUS_BLOCK sendAndWait(PDEVICE_OBJECT target, const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                            const std::function<void(PIRP)>& inFlight = {});

// As sendAndWait, for a user request: nullopt when the request was given up
// with abandonRequest (the driver keeps the IRP and whatever it points at).
std::optional<IO_STATUS_BLOCK> sendAndWaitAbandonable(PDEVICE_OBJECT target,
                                                      const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                                                      const std::function<void(PIRP)>& inFlight);
// Makes the sender of `irp` (sent by one of the calls here) stop waiting
// for a request its driver never completes.
void abandonRequest(PIRP irp);
// The major function the request was sent with.
UCHAR requestMajor(PIRP irp);

// The same, waiting at most `limit` for a request the kernel must not hang
// on (PnP, cleanup, close). Past it the request is logged, naming the driver
// and the request, and abandoned to the driver: nullopt, and neither the IRP
// nor what it points at may be freed.
std::optional<IO_STATUS_BLOCK> sendAndWaitBounded(PDEVICE_OBJECT target,
                                                  const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                                                  std::chrono::milliseconds limit);

// How long the kernel waits for a driver: a request of its own, a cancelled
// request of an exiting process, a DPC flush ([kernel] driver_timeout_ms,
// set at boot; 10 s by default).
std::chrono::milliseconds driverWaitLimit();
void setDriverWaitLimit(std::chrono::milliseconds limit);

// The dispatch routine for majors a driver does not handle.
NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT device, PIRP irp);

}  // namespace nt
