#include "registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "log.h"
#include "unicode_text.h"

namespace nt {
namespace {

// Version 2 ends with "END <records> <crc32>", the CRC-32 of every byte
// before that line; version 1 files (no check) still load.
constexpr const char* kHeader = "LXREGISTRY 2";
constexpr const char* kHeaderWithoutCheck = "LXREGISTRY 1";

uint32_t crc32(const std::string& text) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : text) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Checks and strips the trailer of a version 2 text; an empty error for a
// version 1 text, which is kept whole.
bool verifyTrailer(std::string* text, std::string* error) {
    if (text->compare(0, std::strlen(kHeaderWithoutCheck), kHeaderWithoutCheck) == 0 &&
        (text->size() == std::strlen(kHeaderWithoutCheck) || (*text)[std::strlen(kHeaderWithoutCheck)] == '\n'))
        return true;
    if (text->compare(0, std::strlen(kHeader), kHeader) != 0) {
        *error = "not a registry file";
        return false;
    }
    const size_t end = text->rfind("\nEND ");
    unsigned records = 0, stored = 0;
    char extra = 0;
    if (end == std::string::npos || text->back() != '\n' ||
        std::sscanf(text->c_str() + end + 1, "END %u %8x%c", &records, &stored, &extra) != 3 || extra != '\n' ||
        end + 1 + std::strlen("END ") + std::to_string(records).size() + 1 + 8 + 1 != text->size()) {
        *error = "it is damaged: its end is missing (the file was cut short)";
        return false;
    }
    const std::string body = text->substr(0, end + 1);
    if (crc32(body) != stored) {
        *error = "it is damaged: its checksum does not match its contents";
        return false;
    }
    size_t lines = 0;
    for (char c : body) lines += c == '\n';
    if (lines != records + 1) {
        *error = "it is damaged: it holds " + std::to_string(lines - 1) + " records where its end names " +
                 std::to_string(records);
        return false;
    }
    *text = body;
    return true;
}

// Makes a rename in `file`'s directory durable.
bool syncDirectoryOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Writes `text` to `file` through a temporary file, fsync, rename and a
// sync of the directory.
bool replaceFile(const std::string& file, const std::string& text, std::string* error) {
    const std::string temporary = file + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "cannot write " + temporary + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        *error = "cannot flush " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        *error = "cannot replace " + file + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (!syncDirectoryOf(file)) {
        *error = "cannot sync the directory of " + file + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool unhex(const std::string& text, std::vector<uint8_t>* out) {
    if (text.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        auto nibble = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            return -1;
        };
        int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out->push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

}  // namespace

bool Registry::relativePath(const std::string& absolute, std::string* relative) {
    std::string path = absolute;
    const std::string lower = lowerAscii(path);
    for (const char* prefix : {"\\registry\\machine", "hkey_local_machine", "hklm"}) {
        const size_t n = std::strlen(prefix);
        if (lower.compare(0, n, prefix) == 0 && (lower.size() == n || lower[n] == '\\')) {
            path = path.substr(n);
            break;
        }
        if (lower.compare(0, 10, "\\registry\\") == 0) return false;  // another hive
    }
    while (!path.empty() && path.front() == '\\') path.erase(path.begin());
    while (!path.empty() && path.back() == '\\') path.pop_back();
    *relative = path;
    return true;
}

std::unique_ptr<Registry> Registry::open(const std::string& file, std::string* error) {
    auto registry = std::unique_ptr<Registry>(new Registry());
    registry->file_ = file;
    registry->root_ = std::make_unique<Key>();
    if (file.empty()) return registry;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errno != ENOENT) {
            *error = "cannot read the registry " + file + ": " + std::strerror(errno);
            return nullptr;
        }
        return registry;  // a new machine starts with an empty registry
    }
    std::stringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    if (!verifyTrailer(&text, error) || !registry->load(text, error)) {
        // The file stays as it is; the copy of the last good save is beside it.
        const std::string good = goodCopyOf(file);
        *error = "registry " + file + ": " + *error + "; the machine does not boot with it. " +
                 (::access(good.c_str(), R_OK) == 0
                      ? "The last good copy is " + good + ": copy it over " + file + " to boot with it"
                      : "There is no good copy; remove " + file + " to start with an empty registry");
        return nullptr;
    }
    return registry;
}

// Format: a header line, then "K <hex path>" lines each followed by its
// "V <hex name> <type> <hex data>" lines. Hex keeps any byte of a name safe.
bool Registry::load(const std::string& text, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || (line != kHeader && line != kHeaderWithoutCheck)) {
        *error = "not a registry file";
        return false;
    }
    Key* current = nullptr;
    int number = 1;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string tag, first;
        fields >> tag >> first;
        std::vector<uint8_t> bytes;
        if (tag == "K" && unhex(first == "-" ? "" : first, &bytes)) {
            current = findOrCreate(std::string(bytes.begin(), bytes.end()));
            continue;
        }
        uint32_t type = 0;
        std::string data;
        if (tag == "V" && current && unhex(first, &bytes) && (fields >> type >> data)) {
            Value value{type, {}};
            if (unhex(data == "-" ? "" : data, &value.data)) {
                std::string name(bytes.begin(), bytes.end());
                current->values[lowerAscii(name)] = {name, std::move(value)};
                continue;
            }
        }
        *error = "line " + std::to_string(number) + " is damaged";
        return false;
    }
    return true;
}

Registry::Key* Registry::find(const std::string& path) const {
    Key* key = root_.get();
    for (const std::string& part : split(path)) {
        auto it = key->subkeys.find(lowerAscii(part));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

Registry::Key* Registry::findOrCreate(const std::string& path) {
    Key* key = root_.get();
    for (const std::string& part : split(path)) {
        auto& slot = key->subkeys[lowerAscii(part)];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = part;
        }
        key = slot.get();
    }
    return key;
}

bool Registry::keyExists(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return find(path) != nullptr;
}

bool Registry::createKey(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (find(path)) return true;
    findOrCreate(path);
    changed();
    return true;
}

bool Registry::query(const std::string& path, const std::string& name, Value* value) const {
    std::lock_guard lock(mutex_);
    Key* key = find(path);
    if (!key) return false;
    auto it = key->values.find(lowerAscii(name));
    if (it == key->values.end()) return false;
    *value = it->second.second;
    return true;
}

bool Registry::set(const std::string& path, const std::string& name, const Value& value) {
    std::lock_guard lock(mutex_);
    Key* key = findOrCreate(path);
    key->values[lowerAscii(name)] = {name, value};
    return changed();
}

bool Registry::remove(const std::string& path, const std::string& name) {
    std::lock_guard lock(mutex_);
    Key* key = find(path);
    if (!key || key->values.erase(lowerAscii(name)) == 0) return false;
    changed();
    return true;
}

std::vector<std::string> Registry::subkeys(const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    if (Key* key = find(path)) {
        for (const auto& [lower, sub] : key->subkeys) names.push_back(sub->name);
    }
    return names;
}

void Registry::serialize(const Key& key, const std::string& path, std::string* out) const {
    *out += "K " + (path.empty() ? std::string("-") : hex(reinterpret_cast<const uint8_t*>(path.data()), path.size())) + "\n";
    for (const auto& [lower, entry] : key.values) {
        const auto& [name, value] = entry;
        *out += "V " + hex(reinterpret_cast<const uint8_t*>(name.data()), name.size()) + " " +
                std::to_string(value.type) + " " +
                (value.data.empty() ? std::string("-") : hex(value.data.data(), value.data.size())) + "\n";
    }
    for (const auto& [lower, sub] : key.subkeys)
        serialize(*sub, path.empty() ? sub->name : path + "\\" + sub->name, out);
}

bool Registry::changed() {
    if (batches_ > 0) {
        dirty_ = true;
        return true;
    }
    std::string error;
    if (saveLocked(&error)) return true;
    klog("registry: %s", error.c_str());
    return false;
}

Registry::Batch::Batch(Registry& registry) : registry_(registry) {
    std::lock_guard lock(registry_.mutex_);
    ++registry_.batches_;
}

Registry::Batch::~Batch() {
    std::lock_guard lock(registry_.mutex_);
    if (--registry_.batches_ == 0 && registry_.dirty_) {
        registry_.dirty_ = false;
        registry_.changed();
    }
}

bool Registry::save(std::string* error) const {
    std::lock_guard lock(mutex_);
    return saveLocked(error);
}

bool Registry::saveLocked(std::string* error) const {
    if (file_.empty()) return true;
    std::string text = std::string(kHeader) + "\n";
    serialize(*root_, "", &text);
    size_t records = 0;
    for (char c : text) records += c == '\n';
    char trailer[40];
    std::snprintf(trailer, sizeof trailer, "END %zu %08x\n", records - 1, crc32(text));
    text += trailer;
    // The registry first, then the good copy: one of the two is whole at any time.
    return replaceFile(file_, text, error) && replaceFile(goodCopyOf(file_), text, error);
}

std::string Registry::goodCopyOf(const std::string& file) { return file + ".good"; }

bool Registry::setDword(const std::string& path, const std::string& name, uint32_t value) {
    Value v{kRegDword, {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}};
    return set(path, name, v);
}

bool Registry::setString(const std::string& path, const std::string& name, const std::string& value) {
    Value v{kRegSz, toUtf16Bytes(toWide(value))};
    v.data.push_back(0);
    v.data.push_back(0);
    return set(path, name, v);
}

bool Registry::setMultiString(const std::string& path, const std::string& name,
                              const std::vector<std::string>& values) {
    Value v{kRegMultiSz, {}};
    for (const std::string& s : values) {
        auto bytes = toUtf16Bytes(toWide(s));
        v.data.insert(v.data.end(), bytes.begin(), bytes.end());
        v.data.push_back(0);
        v.data.push_back(0);
    }
    v.data.push_back(0);
    v.data.push_back(0);
    return set(path, name, v);
}

bool Registry::queryDword(const std::string& path, const std::string& name, uint32_t* value) const {
    Value v;
    if (!query(path, name, &v) || v.type != kRegDword || v.data.size() != 4) return false;
    *value = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | uint32_t{v.data[3]} << 24;
    return true;
}

bool Registry::queryString(const std::string& path, const std::string& name, std::string* value) const {
    Value v;
    if (!query(path, name, &v) || (v.type != kRegSz && v.type != 2)) return false;
    std::wstring text = fromUtf16Bytes(v.data.data(), v.data.size());
    while (!text.empty() && text.back() == 0) text.pop_back();
    *value = toUtf8(text.c_str(), text.size());
    return true;
}

bool Registry::queryMultiString(const std::string& path, const std::string& name,
                                std::vector<std::string>* values) const {
    Value v;
    if (!query(path, name, &v) || (v.type != kRegMultiSz && v.type != kRegSz)) return false;
    std::wstring text = fromUtf16Bytes(v.data.data(), v.data.size());
    values->clear();
    std::wstring current;
    for (wchar_t c : text) {
        if (c == 0) {
            if (!current.empty()) values->push_back(toUtf8(current.c_str(), current.size()));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) values->push_back(toUtf8(current.c_str(), current.size()));
    return true;
}

}  // namespace nt
