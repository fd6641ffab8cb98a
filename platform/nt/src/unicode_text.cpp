#include "unicode_text.h"

#include <cstdio>
#include <cstring>

namespace nt {

std::string toUtf8(const WCHAR* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x110000) {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += '?';
        }
    }
    return out;
}

std::string toUtf8(PCUNICODE_STRING text) {
    if (!text || !text->Buffer) return {};
    return toUtf8(text->Buffer, text->Length / sizeof(WCHAR));
}

std::wstring toWide(const std::string& utf8) {
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        auto byte = static_cast<unsigned char>(utf8[i]);
        uint32_t c = byte;
        size_t extra = 0;
        if (byte >= 0xF0) {
            c = byte & 0x07;
            extra = 3;
        } else if (byte >= 0xE0) {
            c = byte & 0x0F;
            extra = 2;
        } else if (byte >= 0xC0) {
            c = byte & 0x1F;
            extra = 1;
        }
        ++i;
        for (size_t k = 0; k < extra && i < utf8.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        out += static_cast<wchar_t>(c);
    }
    return out;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) { return lowerAscii(a) == lowerAscii(b); }

std::vector<uint8_t> toUtf16Bytes(const std::wstring& text) {
    std::vector<uint8_t> out;
    auto put = [&](uint16_t unit) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (wchar_t ch : text) {
        uint32_t c = static_cast<uint32_t>(ch);
        if (c >= 0x10000 && c < 0x110000) {
            c -= 0x10000;
            put(static_cast<uint16_t>(0xD800 | (c >> 10)));
            put(static_cast<uint16_t>(0xDC00 | (c & 0x3FF)));
        } else {
            put(static_cast<uint16_t>(c < 0x110000 ? c : '?'));
        }
    }
    return out;
}

std::wstring fromUtf16Bytes(const uint8_t* data, size_t bytes) {
    std::wstring out;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        uint32_t unit = data[i] | (uint32_t{data[i + 1]} << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes) {
            uint32_t low = data[i + 2] | (uint32_t{data[i + 3]} << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        out += static_cast<wchar_t>(unit);
    }
    return out;
}

bool makeUnicodeString(const std::string& text, PUNICODE_STRING out) {
    std::wstring wide = toWide(text);
    const size_t bytes = wide.size() * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFF) return false;
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), 'rtsU'));
    if (!buffer) return false;
    std::memcpy(buffer, wide.c_str(), bytes + sizeof(WCHAR));
    out->Buffer = buffer;
    out->Length = static_cast<USHORT>(bytes);
    out->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return true;
}

std::string guidToString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

}  // namespace nt
