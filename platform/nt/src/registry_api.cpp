// Registry routines for drivers. Key handles are pool blocks holding the
// key's path; values are converted between the stored UTF-16 and WCHAR.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "log.h"
#include "memory_manager.h"
#include "registry.h"
#include "runtime.h"
#include "unicode_text.h"

using namespace nt;

namespace {

constexpr uint32_t kKeyHandleMagic = 0x4B455948;  // "HYEK"

struct RegistryKeyHandle {
    uint32_t magic;
    std::string* path;
};

Registry* registry() {
    Runtime* rt = runtime();
    return rt ? rt->registry : nullptr;
}

RegistryKeyHandle* keyFromHandle(HANDLE handle) {
    auto* key = static_cast<RegistryKeyHandle*>(handle);
    Runtime* rt = runtime();
    if (!key || !rt || !rt->memory->isPool(key) || key->magic != kKeyHandleMagic) return nullptr;
    return key;
}

// The path an OBJECT_ATTRIBUTES names, relative to HKLM.
bool attributesPath(POBJECT_ATTRIBUTES attributes, std::string* path) {
    if (!attributes || !attributes->ObjectName) return false;
    std::string name = toUtf8(attributes->ObjectName);
    if (attributes->RootDirectory) {
        RegistryKeyHandle* root = keyFromHandle(attributes->RootDirectory);
        if (!root) return false;
        *path = name.empty() ? *root->path : *root->path + "\\" + name;
        return true;
    }
    return Registry::relativePath(name, path);
}

HANDLE makeHandle(const std::string& path) {
    auto* key = static_cast<RegistryKeyHandle*>(ExAllocatePoolWithTag(PagedPool, sizeof(RegistryKeyHandle), 'yeKR'));
    if (!key) return nullptr;
    key->magic = kKeyHandleMagic;
    key->path = new std::string(path);
    return key;
}

// Stored value -> the bytes a driver sees (strings as WCHAR).
std::vector<uint8_t> toDriverData(const Registry::Value& value) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ && value.type != REG_MULTI_SZ) return value.data;
    std::wstring text = fromUtf16Bytes(value.data.data(), value.data.size());
    std::vector<uint8_t> out(text.size() * sizeof(WCHAR));
    std::memcpy(out.data(), text.data(), out.size());
    return out;
}

Registry::Value fromDriverData(ULONG type, const void* data, ULONG size) {
    Registry::Value value{type, {}};
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        std::wstring text(reinterpret_cast<const WCHAR*>(bytes), size / sizeof(WCHAR));
        value.data = toUtf16Bytes(text);
    } else {
        value.data.assign(bytes, bytes + size);
    }
    return value;
}

std::string pathRelativeTo(ULONG relativeTo, PCWSTR path) {
    std::string text = path ? toUtf8(path, std::wcslen(path)) : std::string();
    switch (relativeTo & 0xFFFF) {
    case RTL_REGISTRY_SERVICES: return "SYSTEM\\CurrentControlSet\\Services\\" + text;
    case RTL_REGISTRY_CONTROL: return "SYSTEM\\CurrentControlSet\\Control\\" + text;
    default: {
        std::string relative;
        return Registry::relativePath(text, &relative) ? relative : std::string("\x01");
    }
    }
}

NTSTATUS directQuery(const RTL_QUERY_REGISTRY_TABLE& entry, ULONG type, const std::vector<uint8_t>& data) {
    if (!entry.EntryContext) return STATUS_INVALID_PARAMETER;
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        auto* target = static_cast<PUNICODE_STRING>(entry.EntryContext);
        const size_t bytes = data.size();
        if (!target->Buffer) {
            auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), 'gerR'));
            if (!buffer) return STATUS_NO_MEMORY;
            target->Buffer = buffer;
            target->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
        }
        if (bytes > target->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
        std::memcpy(target->Buffer, data.data(), bytes);
        size_t length = bytes;
        while (length >= sizeof(WCHAR) && target->Buffer[length / sizeof(WCHAR) - 1] == 0 && type != REG_MULTI_SZ)
            length -= sizeof(WCHAR);
        target->Length = static_cast<USHORT>(length);
        if (length + sizeof(WCHAR) <= target->MaximumLength) target->Buffer[length / sizeof(WCHAR)] = 0;
        return STATUS_SUCCESS;
    }
    if (data.size() <= sizeof(ULONG)) {
        std::memcpy(entry.EntryContext, data.data(), data.size());
        return STATUS_SUCCESS;
    }
    // Larger binary data: the first ULONG at EntryContext gives the buffer size (negative, as documented).
    auto* header = static_cast<LONG*>(entry.EntryContext);
    if (*header >= 0 || static_cast<size_t>(-*header) < data.size()) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(entry.EntryContext, data.data(), data.size());
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes) {
    Registry* reg = registry();
    if (!KeyHandle) return STATUS_INVALID_PARAMETER;
    *KeyHandle = nullptr;
    std::string path;
    if (!reg || !attributesPath(ObjectAttributes, &path)) return STATUS_OBJECT_PATH_NOT_FOUND;
    if (!reg->keyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
    *KeyHandle = makeHandle(path);
    return *KeyHandle ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes, ULONG, PUNICODE_STRING,
                     ULONG, PULONG Disposition) {
    Registry* reg = registry();
    if (!KeyHandle) return STATUS_INVALID_PARAMETER;
    *KeyHandle = nullptr;
    std::string path;
    if (!reg || !attributesPath(ObjectAttributes, &path) || path.empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
    const bool existed = reg->keyExists(path);
    reg->createKey(path);
    if (Disposition) *Disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *KeyHandle = makeHandle(path);
    return *KeyHandle ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS ZwClose(HANDLE Handle) {
    RegistryKeyHandle* key = keyFromHandle(Handle);
    if (!key) return STATUS_INVALID_HANDLE;
    key->magic = 0;
    delete key->path;
    ExFreePool(key);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                         ULONG Length, PULONG ResultLength) {
    RegistryKeyHandle* key = keyFromHandle(KeyHandle);
    Registry* reg = registry();
    if (!key || !reg) return STATUS_INVALID_HANDLE;
    if (KeyValueInformationClass != KeyValuePartialInformation) return STATUS_NOT_IMPLEMENTED;
    Registry::Value value;
    if (!reg->query(*key->path, toUtf8(ValueName), &value)) return STATUS_OBJECT_NAME_NOT_FOUND;
    const std::vector<uint8_t> data = toDriverData(value);
    const ULONG needed = static_cast<ULONG>(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + data.size());
    if (ResultLength) *ResultLength = needed;
    if (Length < offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data)) return STATUS_BUFFER_TOO_SMALL;
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(KeyValueInformation);
    info->TitleIndex = 0;
    info->Type = value.type;
    info->DataLength = static_cast<ULONG>(data.size());
    if (Length < needed) return STATUS_BUFFER_OVERFLOW;
    std::memcpy(info->Data, data.data(), data.size());
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data, ULONG DataSize) {
    RegistryKeyHandle* key = keyFromHandle(KeyHandle);
    Registry* reg = registry();
    if (!key || !reg) return STATUS_INVALID_HANDLE;
    if (DataSize && !Data) return STATUS_INVALID_PARAMETER;
    return reg->set(*key->path, toUtf8(ValueName), fromDriverData(Type, Data, DataSize)) ? STATUS_SUCCESS
                                                                                         : STATUS_UNSUCCESSFUL;
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName) {
    RegistryKeyHandle* key = keyFromHandle(KeyHandle);
    Registry* reg = registry();
    if (!key || !reg) return STATUS_INVALID_HANDLE;
    return reg->remove(*key->path, toUtf8(ValueName)) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context,
                                PVOID) {
    Registry* reg = registry();
    if (!reg || !QueryTable) return STATUS_INVALID_PARAMETER;
    std::string path;
    if (RelativeTo & RTL_REGISTRY_HANDLE) {
        RegistryKeyHandle* key = keyFromHandle(const_cast<PWSTR>(Path));
        if (!key) return STATUS_INVALID_HANDLE;
        path = *key->path;
    } else {
        path = pathRelativeTo(RelativeTo, Path);
    }
    if (path == "\x01") return STATUS_OBJECT_PATH_NOT_FOUND;
    if (!reg->keyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
    for (PRTL_QUERY_REGISTRY_TABLE entry = QueryTable; entry->QueryRoutine || entry->Name; ++entry) {
        if (entry->Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_TOPKEY)) {
            if (entry->Name && (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY))
                path += "\\" + toUtf8(entry->Name, std::wcslen(entry->Name));
            if (!entry->QueryRoutine) continue;
        }
        if (!entry->Name) return STATUS_INVALID_PARAMETER;  // enumerating every value is not supported
        Registry::Value value;
        ULONG type = 0;
        std::vector<uint8_t> data;
        if (reg->query(path, toUtf8(entry->Name, std::wcslen(entry->Name)), &value)) {
            type = value.type;
            data = toDriverData(value);
            if (type == REG_SZ || type == REG_EXPAND_SZ) {
                data.resize(data.size() + sizeof(WCHAR), 0);  // with its terminator
            }
        } else if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        } else if (entry->DefaultType != REG_NONE) {
            type = entry->DefaultType;
            const auto* bytes = static_cast<const uint8_t*>(entry->DefaultData);
            ULONG length = entry->DefaultLength;
            if (length == 0 && bytes && (type == REG_SZ || type == REG_EXPAND_SZ))
                length = static_cast<ULONG>((std::wcslen(reinterpret_cast<PCWSTR>(bytes)) + 1) * sizeof(WCHAR));
            if (bytes) data.assign(bytes, bytes + length);
        } else {
            continue;
        }
        if ((entry->Flags & RTL_QUERY_REGISTRY_TYPECHECK) && (entry->DefaultType >> 24) != 0 &&
            (entry->DefaultType >> 24) != type)
            return STATUS_OBJECT_TYPE_MISMATCH;
        NTSTATUS status;
        if (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) {
            status = directQuery(*entry, type, data);
        } else if (entry->QueryRoutine) {
            status = entry->QueryRoutine(entry->Name, type, data.data(), static_cast<ULONG>(data.size()), Context,
                                         entry->EntryContext);
        } else {
            status = STATUS_INVALID_PARAMETER;
        }
        if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType, PVOID ValueData,
                               ULONG ValueLength) {
    Registry* reg = registry();
    if (!reg || !ValueName) return STATUS_INVALID_PARAMETER;
    std::string path;
    if (RelativeTo & RTL_REGISTRY_HANDLE) {
        RegistryKeyHandle* key = keyFromHandle(const_cast<PWSTR>(Path));
        if (!key) return STATUS_INVALID_HANDLE;
        path = *key->path;
    } else {
        path = pathRelativeTo(RelativeTo, Path);
    }
    if (path == "\x01" || path.empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
    if (ValueLength && !ValueData) return STATUS_INVALID_PARAMETER;
    return reg->set(path, toUtf8(ValueName, std::wcslen(ValueName)), fromDriverData(ValueType, ValueData, ValueLength))
               ? STATUS_SUCCESS
               : STATUS_UNSUCCESSFUL;
}

NTSTATUS RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path) {
    Registry* reg = registry();
    if (!reg) return STATUS_INVALID_PARAMETER;
    std::string path = pathRelativeTo(RelativeTo, Path);
    return path != "\x01" && reg->keyExists(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

ULONG DbgPrint(PCSTR Format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, Format);
    int n = std::vsnprintf(buffer, sizeof buffer, Format, args);
    va_end(args);
    if (n < 0) return STATUS_UNSUCCESSFUL;
    klog("%s", buffer);
    return STATUS_SUCCESS;
}

}  // extern "C"
