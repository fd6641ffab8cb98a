// Conversions between the kernel's counted WCHAR strings and the runtime's
// UTF-8 std::strings, and the case-insensitive comparisons names use.
#pragma once

#include <string>
#include <vector>

#include "ntddk.h"

namespace nt {

std::string toUtf8(const WCHAR* text, size_t count);
std::string toUtf8(PCUNICODE_STRING text);
std::wstring toWide(const std::string& utf8);
std::string lowerAscii(std::string text);
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// UTF-16LE bytes (the registry's storage of strings) and back.
std::vector<uint8_t> toUtf16Bytes(const std::wstring& text);
std::wstring fromUtf16Bytes(const uint8_t* data, size_t bytes);

// A UNICODE_STRING with a pool buffer holding `text` and a terminator;
// freed with RtlFreeUnicodeString. False when the pool is exhausted or the
// text is too long for a counted string.
bool makeUnicodeString(const std::string& text, PUNICODE_STRING out);

std::string guidToString(const GUID& guid);  // "{8b0b849e-5ba2-...}" lower case

}  // namespace nt
