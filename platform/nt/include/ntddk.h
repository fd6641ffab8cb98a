// The kernel interface for drivers of the machine: what a driver source
// includes, with the names, types and behaviour of the documented NT kernel
// routines. DriverEntry is declared here with default visibility so that the
// loader finds it in a driver built with hidden visibility.
#pragma once

#include "nt/ntdef.h"
#include "nt/ke.h"
#include "nt/cm.h"
#include "nt/mm.h"
#include "nt/io.h"
#include "nt/rtl.h"
#include "nt/hal.h"
#include "nt/ps.h"

NTKERNELAPI NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
