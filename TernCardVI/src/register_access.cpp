// Register reads and writes through the mapped window (or the port base).
// An access must lie wholly inside the register resource: anything else
// would reach memory that is not the card's.
#include "register_access.h"

#include "lx/internal/terncard_ioctl.h"

namespace {

bool insideWindow(const TernCardVIExtension* extension, ULONG offset, ULONG width) {
    return static_cast<ULONGLONG>(offset) + width <= extension->registerLength.load();
}

UCHAR readByte(const TernCardVIExtension* extension, PUCHAR address) {
    return extension->portSpace.load() ? READ_PORT_UCHAR(address) : READ_REGISTER_UCHAR(address);
}

ULONG readWord(const TernCardVIExtension* extension, PUCHAR address) {
    auto* word = reinterpret_cast<PULONG>(address);
    return extension->portSpace.load() ? READ_PORT_ULONG(word) : READ_REGISTER_ULONG(word);
}

void writeByte(const TernCardVIExtension* extension, PUCHAR address, UCHAR value) {
    if (extension->portSpace.load()) {
        WRITE_PORT_UCHAR(address, value);
        return;
    }
    WRITE_REGISTER_UCHAR(address, value);
    KeMemoryBarrier();
}

void writeWord(const TernCardVIExtension* extension, PUCHAR address, ULONG value) {
    auto* word = reinterpret_cast<PULONG>(address);
    if (extension->portSpace.load()) {
        WRITE_PORT_ULONG(word, value);
        return;
    }
    WRITE_REGISTER_ULONG(word, value);
    KeMemoryBarrier();
}

}  // namespace

RequestResult accessRegister(TernCardVIExtension* extension, PVOID buffer, ULONG inputLength, ULONG outputLength) {
    PUCHAR window = extension->registerWindow.load();
    if (!extension->hasRegisters.load() || window == nullptr) {
        return {STATUS_INVALID_DEVICE_REQUEST, 0};
    }
    if (inputLength != sizeof(RegisterRequest)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    RegisterRequest request;
    RtlCopyMemory(&request, buffer, sizeof request);

    switch (request.operation) {
    case TERN_REG_READ_BYTE:
        // The answer must fit where the caller receives it.
        if (outputLength < sizeof(UCHAR) || !insideWindow(extension, request.offset, sizeof(UCHAR))) {
            return {STATUS_INVALID_PARAMETER, 0};
        }
        *static_cast<PUCHAR>(buffer) = readByte(extension, window + request.offset);
        return {STATUS_SUCCESS, sizeof(UCHAR)};
    case TERN_REG_WRITE_BYTE:
        if (!insideWindow(extension, request.offset, sizeof(UCHAR))) {
            return {STATUS_INVALID_PARAMETER, 0};
        }
        writeByte(extension, window + request.offset, static_cast<UCHAR>(request.value));
        return {STATUS_SUCCESS, 0};
    case TERN_REG_READ_WORD: {
        if (outputLength < sizeof(ULONG) || !insideWindow(extension, request.offset, sizeof(ULONG))) {
            return {STATUS_INVALID_PARAMETER, 0};
        }
        const ULONG value = readWord(extension, window + request.offset);
        RtlCopyMemory(buffer, &value, sizeof value);
        return {STATUS_SUCCESS, sizeof(ULONG)};
    }
    case TERN_REG_WRITE_WORD:
        if (!insideWindow(extension, request.offset, sizeof(ULONG))) {
            return {STATUS_INVALID_PARAMETER, 0};
        }
        writeWord(extension, window + request.offset, request.value);
        return {STATUS_SUCCESS, 0};
    default:
        // Unknown operations touch nothing and succeed, as the library expects.
        return {STATUS_SUCCESS, 0};
    }
}

void haltCardDma(TernCardVIExtension* extension) {
    // The card's enable registers, as the card library programs them.
    constexpr ULONG kCaptureControl = 0x0DC;
    constexpr ULONG kDmaControl = 0x10C;
    PUCHAR window = extension->registerWindow.load();
    if (!extension->hasRegisters.load() || window == nullptr) {
        return;
    }
    for (ULONG offset : {kCaptureControl, kDmaControl}) {
        if (insideWindow(extension, offset, sizeof(ULONG))) {
            writeWord(extension, window + offset, 0);
        }
    }
}
