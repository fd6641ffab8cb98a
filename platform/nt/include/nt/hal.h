// Register and port access. A register window from MmMapIoSpace is an address
// range that is not memory: these routines look the address up and reach
// the device's register handlers. On plain memory they read and write it.
#pragma once

#include "nt/ntdef.h"

NTKERNELAPI UCHAR READ_REGISTER_UCHAR(volatile UCHAR* Register);
NTKERNELAPI USHORT READ_REGISTER_USHORT(volatile USHORT* Register);
NTKERNELAPI ULONG READ_REGISTER_ULONG(volatile ULONG* Register);
NTKERNELAPI VOID WRITE_REGISTER_UCHAR(volatile UCHAR* Register, UCHAR Value);
NTKERNELAPI VOID WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value);
NTKERNELAPI VOID WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value);
NTKERNELAPI VOID READ_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, PUCHAR Buffer, ULONG Count);
NTKERNELAPI VOID WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, PUCHAR Buffer, ULONG Count);

// Ports: the pointer's value is the port number.
NTKERNELAPI UCHAR READ_PORT_UCHAR(PUCHAR Port);
NTKERNELAPI USHORT READ_PORT_USHORT(PUSHORT Port);
NTKERNELAPI ULONG READ_PORT_ULONG(PULONG Port);
NTKERNELAPI VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value);
NTKERNELAPI VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value);
NTKERNELAPI VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value);
