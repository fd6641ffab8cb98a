#include "lxmachine/config_file.h"

#include <fstream>
#include <sstream>
#include <toml++/toml.h>

#include "lxmachine/stamp_source_name.h"

namespace lxm {

namespace {

// Thrown inside the parser only; parseMachineConfig turns it into an error string.
struct ConfigError {
    std::string message;
};

class ConfigReader {
public:
    explicit ConfigReader(std::string sourceName) : source_(std::move(sourceName)) {}

    [[noreturn]] void fail(const toml::node& node, const std::string& key, const std::string& what) const {
        throw ConfigError{source_ + ":" + std::to_string(node.source().begin.line) + ": key '" + key + "': " + what};
    }

    void onlyKeys(const toml::table& table, const std::string& prefix, std::initializer_list<std::string_view> known) {
        for (auto&& [key, node] : table) {
            bool found = false;
            for (auto k : known) found = found || key.str() == k;
            if (!found) {
                std::string full = prefix.empty() ? std::string(key.str()) : prefix + "." + std::string(key.str());
                throw ConfigError{source_ + ":" + std::to_string(key.source().begin.line) + ": unknown key '" + full +
                                  "'"};
            }
        }
    }

    const toml::table* table(const toml::table& parent, std::string_view name) {
        const toml::node* node = parent.get(name);
        if (!node) return nullptr;
        if (!node->is_table()) fail(*node, std::string(name), "must be a table");
        return node->as_table();
    }

    int64_t integer(const toml::table& t, std::string_view name, const std::string& key, int64_t low, int64_t high,
                    int64_t fallback) {
        const toml::node* node = t.get(name);
        if (!node) return fallback;
        if (!node->is_integer()) fail(*node, key, "must be an integer");
        int64_t v = node->as_integer()->get();
        if (v < low || v > high)
            fail(*node, key, "must be between " + std::to_string(low) + " and " + std::to_string(high) + " (got " +
                                 std::to_string(v) + ")");
        return v;
    }

    bool boolean(const toml::table& t, std::string_view name, const std::string& key, bool fallback) {
        const toml::node* node = t.get(name);
        if (!node) return fallback;
        if (!node->is_boolean()) fail(*node, key, "must be true or false");
        return node->as_boolean()->get();
    }

    void clock(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "clock");
        if (!t) return;
        onlyKeys(*t, "clock", {"factor"});
        if (const toml::node* node = t->get("factor")) {
            double v;
            if (node->is_floating_point())
                v = node->as_floating_point()->get();
            else if (node->is_integer())
                v = static_cast<double>(node->as_integer()->get());
            else
                fail(*node, "clock.factor", "must be a number");
            if (!(v > 0.0 && v <= 1000.0)) fail(*node, "clock.factor", "must be greater than 0 and at most 1000");
            c.clockFactor = v;
        }
    }

    void display(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "display");
        if (!t) return;
        onlyKeys(*t, "display", {"width", "height", "bits", "bus"});
        c.display.width = static_cast<uint32_t>(integer(*t, "width", "display.width", 16, 8192, c.display.width));
        c.display.height = static_cast<uint32_t>(integer(*t, "height", "display.height", 16, 8192, c.display.height));
        c.display.bus = static_cast<uint32_t>(integer(*t, "bus", "display.bus", 0, 255, c.display.bus));
        if (const toml::node* node = t->get("bits")) {
            int64_t bits = integer(*t, "bits", "display.bits", 0, 64, 0);
            if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32)
                fail(*node, "display.bits", "must be one of 8, 15, 16, 24, 32 (got " + std::to_string(bits) + ")");
            c.display.bits = static_cast<uint32_t>(bits);
        }
    }

    void memory(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "memory");
        if (!t) return;
        onlyKeys(*t, "memory", {"ram_mb"});
        c.ramMb = static_cast<uint32_t>(integer(*t, "ram_mb", "memory.ram_mb", 16, 3072, c.ramMb));
    }

    void os(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "os");
        if (!t) return;
        onlyKeys(*t, "os", {"version", "workstation"});
        c.os.workstation = boolean(*t, "workstation", "os.workstation", c.os.workstation);
        if (const toml::node* node = t->get("version")) {
            if (!node->is_string()) fail(*node, "os.version", "must be a string \"major.minor\"");
            const std::string& s = node->as_string()->get();
            unsigned major = 0, minor = 0;
            char extra = 0;
            if (std::sscanf(s.c_str(), "%3u.%3u%c", &major, &minor, &extra) != 2 || s.find_first_of("+- ") != s.npos)
                fail(*node, "os.version", "must look like \"10.0\" (got \"" + s + "\")");
            c.os.major = major;
            c.os.minor = minor;
        }
    }

    void limits(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "limits");
        if (!t) return;
        onlyKeys(*t, "limits", {"request_bytes", "hello_timeout_ms", "connections", "threads_per_process",
                                "handles_per_process", "named_objects_per_process", "views_per_process",
                                "contiguous_mb_per_process"});
        LimitsConfig& l = c.limits;
        auto read = [&](std::string_view name, int64_t low, int64_t high, uint32_t* value) {
            *value = static_cast<uint32_t>(integer(*t, name, "limits." + std::string(name), low, high, *value));
        };
        read("request_bytes", 65536, (16 << 20) + 4096, &l.requestBytes);
        read("hello_timeout_ms", 100, 60000, &l.helloTimeoutMs);
        read("connections", 4, 65536, &l.connections);
        read("threads_per_process", 1, 65536, &l.threadsPerProcess);
        read("handles_per_process", 1, 1 << 20, &l.handlesPerProcess);
        read("named_objects_per_process", 1, 1 << 20, &l.namedObjectsPerProcess);
        read("views_per_process", 1, 1 << 20, &l.viewsPerProcess);
        read("contiguous_mb_per_process", 1, 3072, &l.contiguousMbPerProcess);
    }

    void kernel(const toml::table& root, MachineConfig& c) {
        const toml::table* t = table(root, "kernel");
        if (!t) return;
        onlyKeys(*t, "kernel", {"verifier", "drain_timeout_ms", "driver_timeout_ms"});
        c.kernel.verifier = boolean(*t, "verifier", "kernel.verifier", c.kernel.verifier);
        c.kernel.drainTimeoutMs = static_cast<uint32_t>(
            integer(*t, "drain_timeout_ms", "kernel.drain_timeout_ms", 100, 600000, c.kernel.drainTimeoutMs));
        c.kernel.driverTimeoutMs = static_cast<uint32_t>(
            integer(*t, "driver_timeout_ms", "kernel.driver_timeout_ms", 100, 600000, c.kernel.driverTimeoutMs));
    }

    HeronAudioConfig heronAudio(const toml::table& t, const std::string& key) {
        onlyKeys(t, key, {"rate", "port"});
        HeronAudioConfig audio;
        audio.port = boolean(t, "port", key + ".port", audio.port);
        if (const toml::node* node = t.get("rate")) {
            double v = 0;
            if (node->is_floating_point())
                v = node->as_floating_point()->get();
            else if (node->is_integer())
                v = static_cast<double>(node->as_integer()->get());
            else
                fail(*node, key + ".rate", "must be a number");
            if (!(v >= 1.0 && v <= 100000.0)) fail(*node, key + ".rate", "must be between 1 and 100000 blocks per second");
            audio.rate = v;
        }
        return audio;
    }

    TernCardConfig terncard(const toml::table& t, const std::string& key) {
        onlyKeys(t, key, {"signature", "revision", "switch", "sources"});
        TernCardConfig card;
        card.signature = boolean(t, "signature", key + ".signature", card.signature);
        card.revision = static_cast<uint8_t>(integer(t, "revision", key + ".revision", 0, 255, card.revision));
        card.boardSwitch = static_cast<uint8_t>(integer(t, "switch", key + ".switch", 0, 3, card.boardSwitch));
        if (const toml::node* node = t.get("sources")) {
            const std::string skey = key + ".sources";
            if (!node->is_array() || node->as_array()->size() != 4)
                fail(*node, skey, "must be an array of four strings");
            const toml::array& a = *node->as_array();
            for (size_t i = 0; i < 4; ++i) {
                const toml::node& item = *a.get(i);
                if (!item.is_string()) fail(item, skey, "must be an array of four strings");
                const std::string& s = item.as_string()->get();
                bool image = s.rfind("image:", 0) == 0 && s.size() > 6;
                if (s != "bars" && s != "none" && !image && !stampSourceId(s))
                    fail(item, skey, "input " + std::to_string(i) +
                                         " must be \"bars\", \"stamp\", \"stamp:ID\" (ID 0-255), \"none\" or "
                                         "\"image:PATH\" (got \"" + s + "\")");
                card.sources[i] = s;
            }
        }
        return card;
    }

    template <typename Each>
    void tableArray(const toml::table& root, std::string_view name, Each each) {
        const toml::node* node = root.get(name);
        if (!node) return;
        if (!node->is_array()) fail(*node, std::string(name), "must be an array of tables ([[" + std::string(name) + "]])");
        const toml::array& a = *node->as_array();
        for (size_t i = 0; i < a.size(); ++i) {
            const toml::node& item = *a.get(i);
            std::string key = std::string(name) + "[" + std::to_string(i) + "]";
            if (!item.is_table()) fail(item, key, "must be a table");
            each(*item.as_table(), key);
        }
    }

    MachineConfig read(const toml::table& root) {
        onlyKeys(root, "", {"clock", "display", "memory", "terncard", "heron_audio", "os", "limits", "kernel"});
        MachineConfig c;
        clock(root, c);
        display(root, c);
        memory(root, c);
        os(root, c);
        limits(root, c);
        kernel(root, c);
        if (root.get("terncard")) {
            c.terncards.clear();
            tableArray(root, "terncard", [&](const toml::table& t, const std::string& key) {
                c.terncards.push_back(terncard(t, key));
            });
        }
        tableArray(root, "heron_audio", [&](const toml::table& t, const std::string& key) {
            c.heronAudio.push_back(heronAudio(t, key));
        });
        return c;
    }

private:
    std::string source_;
};

}  // namespace

bool parseMachineConfig(std::string_view text, const std::string& sourceName, MachineConfig* config,
                        std::string* error) {
    try {
        toml::table root = toml::parse(text, sourceName);
        *config = ConfigReader(sourceName).read(root);
        return true;
    } catch (const toml::parse_error& e) {
        *error = sourceName + ":" + std::to_string(e.source().begin.line) + ": syntax error: " +
                 std::string(e.description());
    } catch (const ConfigError& e) {
        *error = e.message;
    } catch (const std::exception& e) {
        *error = sourceName + ": " + e.what();
    }
    return false;
}

bool loadMachineConfig(const std::string& path, MachineConfig* config, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot open the configuration file";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return parseMachineConfig(text.str(), path, config, error);
}

std::string defaultMachineConfigText() {
    return R"(# Configuration of this simulated PC; read at every boot.

[clock]
factor = 1.0          # 1.0 = real time (50 fields/s PAL); larger runs faster

[display]
width = 1024
height = 768
bits = 32             # 8, 15, 16, 24 or 32
bus = 0

[memory]
ram_mb = 256

[os]
version = "10.0"
workstation = true

# What one client may take; a refused request fails as a Windows program
# would see an exhausted quota.
[limits]
request_bytes = 16781312        # largest request payload (16 MiB + 4096)
hello_timeout_ms = 5000         # a new connection must say hello within
connections = 1024              # connections of all clients (each a daemon thread)
threads_per_process = 128       # thread connections of one process
handles_per_process = 4096      # named-object handles of one process
named_objects_per_process = 256 # named objects one process created that still exist
views_per_process = 1024        # views the machine records for one process
contiguous_mb_per_process = 128 # contiguous memory the requests of one process hold

[kernel]
verifier = false      # true: a driver breaking the kernel's rules stops the machine
                      # with a bug check naming it (see crash.json)
drain_timeout_ms = 20000  # how long a reboot or power-off waits for requests to leave
driver_timeout_ms = 10000 # how long the kernel waits for a driver (PnP, power, cleanup,
                          # close, a cancelled request at process exit, a DPC flush)

# One table per capture card; "terncard = []" for none.
[[terncard]]
signature = true
revision = 0x21
switch = 0
sources = ["none", "none", "none", "bars"]   # "bars", "stamp[:ID]", "none" or "image:PATH"

# Audio functions: add "[[heron_audio]]" tables, each with
#   rate = 375.0        # audio blocks (interrupts) per second while enabled
#   port = false        # true: registers in I/O port space
)";
}

}  // namespace lxm
