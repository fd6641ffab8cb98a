// Win32 subset: private profile (INI) files.
//
// A file name without a '/' names a file of the per-user configuration
// directory: $LX_PROFILE_DIR when set (tests point it at a scratch
// directory), else $XDG_CONFIG_HOME/lx, else $HOME/.config/lx. The directory
// is made at the first write. Section and key names compare without regard
// to case, as on Windows; lines keep their order, and a write replaces the
// file as a whole (a reader never sees half a file).
#pragma once

#include "windows.h"

#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif

// The key's value read as a decimal integer (leading digits, an optional
// minus sign); `defaultValue` when the file, the section or the key is
// missing or the value does not start with a number.
WIN32_API UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
// Copies the key's value (or `defaultValue`, "" for null) into out, cut to
// size - 1 characters and terminated; returns the characters copied. With
// key null: the section's key names, each terminated, the list ending in an
// extra terminator. Returns 0 for a null or empty buffer.
WIN32_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                                                DWORD size, LPCSTR fileName);
// Sets a key (made with its section when missing); a null value removes the
// key, a null key the whole section. FALSE when the file cannot be written
// (GetLastError says why) or section is null.
WIN32_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
