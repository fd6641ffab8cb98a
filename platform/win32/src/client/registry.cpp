// Registry functions on HKEY_LOCAL_MACHINE, kept by the machine's kernel.
// A key handle remembers its path and the access it was opened with.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "lxmachine/nt_status_codes.h"
#include "machine_session.h"

namespace lx::win32::client {

namespace wire = lxm::wire;

namespace {

struct RegistryKey {
    std::string path;  // below HKLM, "" for HKLM itself
    REGSAM access;
};

std::mutex keysLock;
std::set<RegistryKey*>& keys() {
    static auto* s = new std::set<RegistryKey*>;
    return *s;
}

// The key behind a handle: an open key, or the predefined HKLM (full access).
bool keyOf(HKEY handle, RegistryKey* out) {
    if (handle == HKEY_LOCAL_MACHINE) {
        *out = RegistryKey{"", KEY_ALL_ACCESS};
        return true;
    }
    std::lock_guard guard(keysLock);
    auto* key = reinterpret_cast<RegistryKey*>(handle);
    if (!keys().contains(key)) return false;
    *out = *key;
    return true;
}

std::string childPath(const std::string& parent, const char* subKey) {
    std::string sub = subKey ? subKey : "";
    while (!sub.empty() && sub.front() == '\\') sub.erase(0, 1);
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    if (parent.empty()) return sub;
    return sub.empty() ? parent : parent + "\\" + sub;
}

HKEY newHandle(std::string path, REGSAM access) {
    auto* key = new RegistryKey{std::move(path), access};
    std::lock_guard guard(keysLock);
    keys().insert(key);
    return reinterpret_cast<HKEY>(key);
}

// One registry request; the reply's NT status or nothing when the machine is unreachable.
std::optional<MachineReply> registryCall(wire::Op op, const std::string& key, std::string_view value = {},
                                         uint32_t type = 0, const void* data = nullptr, uint32_t length = 0) {
    wire::PayloadWriter w;
    w.record(wire::RegistryRecord{static_cast<uint32_t>(key.size()), static_cast<uint32_t>(value.size()), type, length})
        .text(key)
        .text(value)
        .bytes(data, length);
    return callMachine(op, w.data());
}

LSTATUS errorOf(const std::optional<MachineReply>& reply) {
    if (!reply) return ERROR_DEVICE_NOT_CONNECTED;
    if (reply->status == lxm::ntstatus::kSuccess) return ERROR_SUCCESS;
    if (reply->status == lxm::ntstatus::kObjectNameNotFound) return ERROR_FILE_NOT_FOUND;
    return ERROR_GEN_FAILURE;
}

bool nameTooLong(const std::string& s) { return s.size() > wire::kMaxName; }

// The machine stores strings as Windows does, in UTF-16LE; the A functions
// see them in the ANSI code page (Latin-1 here; characters beyond it become '?').
bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::vector<uint8_t> ansiToUtf16(const BYTE* data, DWORD size) {
    std::vector<uint8_t> wide;
    wide.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i) {
        wide.push_back(data[i]);
        wide.push_back(0);
    }
    return wide;
}

std::vector<uint8_t> utf16ToAnsi(const std::vector<uint8_t>& wide) {
    std::vector<uint8_t> ansi;
    ansi.reserve(wide.size() / 2 + 1);
    for (size_t i = 0; i + 1 < wide.size(); i += 2) {
        uint16_t unit = static_cast<uint16_t>(wide[i] | (wide[i + 1] << 8));
        ansi.push_back(unit < 0x100 ? static_cast<uint8_t>(unit) : '?');
    }
    if (wide.size() % 2) ansi.push_back(wide.back());
    return ansi;
}

}  // namespace
}  // namespace lx::win32::client

using namespace lx::win32::client;

WIN32_API LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    RegistryKey base;
    if (!keyOf(parent, &base)) return ERROR_INVALID_HANDLE;
    std::string path = childPath(base.path, subKey);
    if (nameTooLong(path)) return ERROR_INVALID_PARAMETER;
    if (!path.empty()) {
        LSTATUS status = errorOf(registryCall(lxm::wire::Op::RegKeyExists, path));
        if (status != ERROR_SUCCESS) return status;
    }
    *result = newHandle(path, desired);
    return ERROR_SUCCESS;
}

WIN32_API LSTATUS WINAPI RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD reserved, LPSTR /*keyClass*/,
                                         DWORD /*options*/, REGSAM desired, const LPSECURITY_ATTRIBUTES /*security*/,
                                         PHKEY result, LPDWORD disposition) {
    if (!result || reserved != 0 || !subKey) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    RegistryKey base;
    if (!keyOf(parent, &base)) return ERROR_INVALID_HANDLE;
    std::string path = childPath(base.path, subKey);
    if (nameTooLong(path)) return ERROR_INVALID_PARAMETER;
    if (path.empty()) {
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        *result = newHandle(path, desired);
        return ERROR_SUCCESS;
    }
    auto exists = registryCall(lxm::wire::Op::RegKeyExists, path);
    if (!exists) return ERROR_DEVICE_NOT_CONNECTED;
    if (exists->status != lxm::ntstatus::kSuccess) {
        if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        auto created = registryCall(lxm::wire::Op::RegCreateKey, path);
        LSTATUS status = errorOf(created);
        if (status != ERROR_SUCCESS) return status;
        if (disposition) *disposition = created->information;
    } else if (disposition) {
        *disposition = REG_OPENED_EXISTING_KEY;
    }
    *result = newHandle(path, desired);
    return ERROR_SUCCESS;
}

WIN32_API LSTATUS WINAPI RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                          LPDWORD dataSize) {
    if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    RegistryKey key;
    if (!keyOf(handle, &key)) return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > wire::kMaxName) return ERROR_INVALID_PARAMETER;
    if (key.path.empty()) return ERROR_FILE_NOT_FOUND;  // HKLM itself holds no values
    auto reply = registryCall(lxm::wire::Op::RegQuery, key.path, name);
    LSTATUS status = errorOf(reply);
    if (status != ERROR_SUCCESS) return status;
    if (type) *type = reply->information;
    const std::vector<uint8_t> value = isStringType(reply->information) ? utf16ToAnsi(reply->data) : reply->data;
    DWORD size = static_cast<DWORD>(value.size());
    if (data) {
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, value.data(), size);
    }
    if (dataSize) *dataSize = size;
    return ERROR_SUCCESS;
}

WIN32_API LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                        DWORD dataSize) {
    if (reserved != 0) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_NOACCESS;
    RegistryKey key;
    if (!keyOf(handle, &key)) return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > wire::kMaxName || dataSize > wire::kMaxIoBuffer) return ERROR_INVALID_PARAMETER;
    if (key.path.empty()) return ERROR_ACCESS_DENIED;  // values belong in keys below HKLM
    if (isStringType(type)) {
        std::vector<uint8_t> wide = ansiToUtf16(data, dataSize);
        if (wide.size() > wire::kMaxIoBuffer) return ERROR_INVALID_PARAMETER;
        return errorOf(registryCall(lxm::wire::Op::RegSet, key.path, name, type, wide.data(),
                                    static_cast<uint32_t>(wide.size())));
    }
    return errorOf(registryCall(lxm::wire::Op::RegSet, key.path, name, type, data, dataSize));
}

WIN32_API LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR valueName) {
    RegistryKey key;
    if (!keyOf(handle, &key)) return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > wire::kMaxName) return ERROR_INVALID_PARAMETER;
    if (key.path.empty()) return ERROR_FILE_NOT_FOUND;
    return errorOf(registryCall(lxm::wire::Op::RegDelete, key.path, name));
}

WIN32_API LSTATUS WINAPI RegCloseKey(HKEY handle) {
    if (handle == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    RegistryKey* key = nullptr;
    {
        std::lock_guard guard(keysLock);
        auto* candidate = reinterpret_cast<RegistryKey*>(handle);
        if (keys().erase(candidate) == 1) key = candidate;
    }
    if (!key) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
