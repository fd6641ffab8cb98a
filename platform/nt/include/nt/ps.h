// Processes: the caller's process id and notification of process exits.
#pragma once

#include "nt/ntdef.h"

typedef VOID (*PCREATE_PROCESS_NOTIFY_ROUTINE)(HANDLE ParentId, HANDLE ProcessId, BOOLEAN Create);

// The id of the process whose request the current thread carries out; 0 on
// system threads (DPCs, start I/O, work outside any request).
NTKERNELAPI HANDLE PsGetCurrentProcessId(VOID);

// Registers (Remove FALSE) or removes (Remove TRUE) a routine called when a
// process ends, after its handles were cleaned up and closed, in the context
// of that process so that its mappings can still be undone. Processes are
// known to the machine from their first request: only exits are reported
// (Create FALSE, ParentId 0). At most 8 routines; a duplicate registration,
// a full table or the removal of an unknown routine gives
// STATUS_INVALID_PARAMETER.
NTKERNELAPI NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE NotifyRoutine, BOOLEAN Remove);
