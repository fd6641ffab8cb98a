// HKLM: a tree of keys with typed values, names compared without regard to
// case. Strings are stored as Windows stores them (UTF-16LE with a
// terminator). Every change is saved to the backing file at once, through a
// temporary file, fsync, rename and a sync of the directory, so a crash never
// leaves half a registry; the file ends with a checksum, and a copy of the
// last save is kept beside it (goodCopyOf).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nt {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

class Registry {
public:
    struct Value {
        uint32_t type = 0;
        std::vector<uint8_t> data;
    };

    // Loads `file` when it exists; an empty path keeps the registry in memory.
    // A file that cannot be parsed or fails its check (cut short, altered) is
    // an error naming the good copy (nothing is overwritten).
    static std::unique_ptr<Registry> open(const std::string& file, std::string* error);
    static std::string goodCopyOf(const std::string& file);

    // Paths are relative to HKLM, components separated by backslashes.
    bool keyExists(const std::string& path) const;
    bool createKey(const std::string& path);
    bool query(const std::string& path, const std::string& name, Value* value) const;
    bool set(const std::string& path, const std::string& name, const Value& value);
    bool remove(const std::string& path, const std::string& name);
    std::vector<std::string> subkeys(const std::string& path) const;

    bool save(std::string* error) const;

    // Changes made while a batch lives are saved once, when it ends.
    class Batch {
    public:
        explicit Batch(Registry& registry);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Registry& registry_;
    };

    // Helpers for the runtime's own values.
    bool setDword(const std::string& path, const std::string& name, uint32_t value);
    bool setString(const std::string& path, const std::string& name, const std::string& value);
    bool setMultiString(const std::string& path, const std::string& name, const std::vector<std::string>& values);
    bool queryDword(const std::string& path, const std::string& name, uint32_t* value) const;
    bool queryString(const std::string& path, const std::string& name, std::string* value) const;
    bool queryMultiString(const std::string& path, const std::string& name, std::vector<std::string>* values) const;

    // Normalises "\Registry\Machine\X", "HKLM\X" and "X" to "X"; empty when the
    // path is not below HKLM.
    static bool relativePath(const std::string& absolute, std::string* relative);

private:
    struct Key {
        std::string name;
        std::map<std::string, std::pair<std::string, Value>> values;  // lower name -> (name, value)
        std::map<std::string, std::unique_ptr<Key>> subkeys;          // lower name -> key
    };
    Key* find(const std::string& path) const;
    Key* findOrCreate(const std::string& path);
    bool saveLocked(std::string* error) const;
    bool changed();  // saves unless a batch is open
    bool load(const std::string& text, std::string* error);
    void serialize(const Key& key, const std::string& path, std::string* out) const;

    std::string file_;
    mutable std::mutex mutex_;
    std::unique_ptr<Key> root_;
    int batches_ = 0;
    bool dirty_ = false;
};

}  // namespace nt
