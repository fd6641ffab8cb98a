// Auto-boot: a call that needs the machine when none runs boots the default
// one (unless LX_MACHINE_NO_AUTOBOOT is set in the environment). A library's
// attach must not: it runs while a program loads, before the program has
// asked for anything, so a tool's `--help` would start a machine. Between
// these two calls the calling thread connects only to a machine that runs;
// the calls nest.
#pragma once

#include "windows.h"

#ifdef __cplusplus
extern "C" {
#endif

WIN32_API void WINAPI Win32SuspendAutoBoot(void);
WIN32_API void WINAPI Win32ResumeAutoBoot(void);

#ifdef __cplusplus
}
#endif
