#include "cli.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "boot_command.h"
#include "command_line.h"
#include "control_connection.h"
#include "lxmachine/machine_directory.h"
#include "lxmachine/stamp_source_name.h"

namespace lxm {

namespace {

constexpr int kControlTimeoutMs = 30000;
constexpr int kRebootTimeoutMs = 180000;

const char* kUsage =
    "usage: lxmachine COMMAND [--dir DIR]\n"
    "  boot [--config FILE]      power the machine on (DIR/machine.toml by default)\n"
    "  shutdown                  power it off\n"
    "  reboot                    power it off and on again\n"
    "  status [--json]           exit 0 and a summary when it runs, 1 when not (with\n"
    "                            the bug check that stopped it, if one did)\n"
    "  plug terncard [--signature yes|no] [--revision N] [--switch N]\n"
    "                            plug in a capture card; prints its number\n"
    "  unplug terncard N [--surprise]\n"
    "                            remove card N (safe removal fails if a driver refuses)\n"
    "  plug heron_audio [--port] plug in an audio function (registers in I/O space\n"
    "                            with --port); prints its number\n"
    "  unplug heron_audio N [--surprise]\n"
    "                            remove audio function N\n"
    "  display WIDTHxHEIGHTxBITS change the display mode\n"
    "  source CARD INPUT SOURCE  connect SOURCE (none, bars, stamp[:ID] or image:PATH)\n"
    "                            to input 0-3 of card CARD\n"
    "  switch CARD BITS          set the board switch of card CARD to BITS (0-3)\n"
    "DIR: --dir, else $LX_MACHINE, else $XDG_RUNTIME_DIR/lxmachine, else /tmp/lxmachine-$UID\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "lxmachine: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// Sends one control request; prints the failure and returns nothing on error.
std::optional<ControlReply> control(const std::string& directory, wire::Op op, std::span<const uint8_t> payload,
                                    int timeoutMs = kControlTimeoutMs) {
    std::string error;
    auto connection = ControlConnection::open(directory, &error);
    if (!connection) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return std::nullopt;
    }
    auto reply = connection->call(op, payload, timeoutMs, &error);
    if (!reply) std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
    return reply;
}

bool onlyOptions(const CommandLine& line, std::initializer_list<const char*> allowed, std::string* bad) {
    for (const auto& [name, value] : line.options) {
        bool ok = name == "--dir";
        for (const char* a : allowed) ok = ok || name == a;
        if (!ok) {
            *bad = name;
            return false;
        }
    }
    return true;
}

// The text of a string member of the one-line JSON record a bug check writes.
std::string recordField(const std::string& record, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    size_t at = record.find(key);
    if (at == std::string::npos) return {};
    std::string value;
    for (at += key.size(); at < record.size() && record[at] != '"'; ++at) {
        if (record[at] == '\\' && at + 1 < record.size()) ++at;
        value += record[at];
    }
    return value;
}

int status(const std::string& directory, bool json) {
    std::string error;
    auto connection = ControlConnection::open(directory, &error);
    if (!connection) {
        std::ifstream crashFile(crashPathOf(directory));
        std::string record;
        std::getline(crashFile, record);
        if (json) {
            std::printf("{\"running\":false,\"crash\":%s}\n", record.empty() ? "null" : record.c_str());
        } else if (record.empty()) {
            std::printf("no machine running at %s\n", directory.c_str());
        } else {
            std::printf("no machine running at %s: it stopped on a bug check\n", directory.c_str());
            std::printf("STOP %s %s in driver %s, routine %s: %s\n", recordField(record, "code").c_str(),
                        recordField(record, "name").c_str(), recordField(record, "driver").c_str(),
                        recordField(record, "routine").c_str(), recordField(record, "reason").c_str());
            std::printf("record: %s\n", crashPathOf(directory).c_str());
        }
        return 1;
    }
    wire::PayloadWriter w;
    w.record(wire::StatusRecord{json ? 1u : 0u, 0});
    auto reply = connection->call(wire::Op::Status, w.data(), kControlTimeoutMs, &error);
    if (!reply) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return 1;
    }
    // A daemon that refuses clients (rebooting, powering off) is not running.
    std::printf("%s\n", reply->text().c_str());
    return reply->status == 0 ? 0 : 1;
}

int plug(const std::string& directory, const CommandLine& line) {
    wire::PlugRecord plug{1, 0x21, 0, 0};
    bool signature = true;
    if (auto it = line.options.find("--signature"); it != line.options.end() && !parseYesNo(it->second, &signature))
        return usageError("--signature takes yes or no");
    plug.signature = signature ? 1 : 0;
    if (auto it = line.options.find("--revision");
        it != line.options.end() && !parseNumber(it->second, 0, 255, &plug.revision))
        return usageError("--revision takes a number from 0 to 255");
    if (auto it = line.options.find("--switch");
        it != line.options.end() && !parseNumber(it->second, 0, 3, &plug.boardSwitch))
        return usageError("--switch takes a number from 0 to 3");
    wire::PayloadWriter w;
    w.record(plug);
    auto reply = control(directory, wire::Op::Plug, w.data());
    if (!reply) return 1;
    if (reply->status != 0) {
        std::fprintf(stderr, "lxmachine: the card could not be plugged in\n");
        return 1;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(reply->value));
    return 0;
}

int plugAudio(const std::string& directory, const CommandLine& line) {
    wire::PayloadWriter w;
    w.record(wire::AudioPlugRecord{line.options.contains("--port") ? 1u : 0u, 0});
    auto reply = control(directory, wire::Op::PlugAudio, w.data());
    if (!reply) return 1;
    if (reply->status != 0) {
        std::fprintf(stderr, "lxmachine: the audio function could not be plugged in\n");
        return 1;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(reply->value));
    return 0;
}

// `what` names the device in messages: "card" or "audio function".
int unplug(const std::string& directory, const CommandLine& line, wire::Op op, const char* what) {
    uint32_t number = 0;
    if (line.words.size() != 2 || !parseNumber(line.words[1], 1, 64, &number))
        return usageError("unplug " + line.words[0] + " takes a number from 1");
    bool surprise = line.options.contains("--surprise");
    wire::PayloadWriter w;
    w.record(wire::UnplugRecord{number, surprise ? 1u : 0u});
    auto reply = control(directory, op, w.data());
    if (!reply) return 1;
    if (reply->status != 0) {
        std::fprintf(stderr, "lxmachine: %s %u was not removed%s\n", what, number,
                     surprise ? " (no such device)" : " (no such device, or a driver refused the removal)");
        return 1;
    }
    std::printf("%s %u removed\n", what, number);
    return 0;
}

// "none", "bars", "stamp[:ID]" or "image:PATH"; a relative path is taken
// from here, since the daemon's working directory is another.
bool sourceForMachine(const std::string& text, std::string* source) {
    if (text == "none" || text == "bars" || lxm::stampSourceId(text)) {
        *source = text;
        return true;
    }
    if (text.rfind("image:", 0) != 0 || text.size() == 6) return false;
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(text.substr(6), error);
    if (error) return false;
    *source = "image:" + path.lexically_normal().string();
    return true;
}

int connectSource(const std::string& directory, const CommandLine& line) {
    uint32_t number = 0, input = 0;
    std::string source;
    if (line.words.size() != 3) return usageError("source takes CARD INPUT SOURCE");
    if (!parseNumber(line.words[0], 1, 64, &number)) return usageError("source: CARD is a card number from 1");
    if (!parseNumber(line.words[1], 0, 3, &input)) return usageError("source: INPUT is a number from 0 to 3");
    if (!sourceForMachine(line.words[2], &source))
        return usageError("source: SOURCE is none, bars, stamp[:ID] or image:PATH (got '" + line.words[2] + "')");
    if (source.size() > wire::kMaxName) return usageError("source: the image path is too long");
    wire::PayloadWriter w;
    w.record(wire::CardSourceRecord{number, input, static_cast<uint32_t>(source.size()), 0}).text(source);
    auto reply = control(directory, wire::Op::CardSource, w.data());
    if (!reply) return 1;
    if (reply->status != 0) {
        std::fprintf(stderr, "lxmachine: card %u input %u keeps its source: %s\n", number, input,
                     reply->text().c_str());
        return 1;
    }
    std::printf("card %u input %u: %s\n", number, input, source.c_str());
    return 0;
}

int setSwitch(const std::string& directory, const CommandLine& line) {
    uint32_t number = 0, bits = 0;
    if (line.words.size() != 2) return usageError("switch takes CARD BITS");
    if (!parseNumber(line.words[0], 1, 64, &number)) return usageError("switch: CARD is a card number from 1");
    if (!parseNumber(line.words[1], 0, 3, &bits)) return usageError("switch: BITS is a number from 0 to 3");
    wire::PayloadWriter w;
    w.record(wire::CardSwitchRecord{number, bits});
    auto reply = control(directory, wire::Op::CardSwitch, w.data());
    if (!reply) return 1;
    if (reply->status != 0) {
        std::fprintf(stderr, "lxmachine: no capture card %u\n", number);
        return 1;
    }
    std::printf("card %u switch %u\n", number, bits);
    return 0;
}

}  // namespace

int runLxmachine(int argc, char** argv, const KernelBoot& bootKernel) {
    std::string error;
    auto parsed = parseCommandLine(argc, argv, &error);
    if (!parsed) return usageError(error);
    const CommandLine& line = *parsed;
    if (line.options.contains("--help") || line.verb == "help") {
        std::printf("%s", kUsage);
        return 0;
    }
    auto dirOption = line.options.find("--dir");
    std::string directory = resolveMachineDirectory(dirOption == line.options.end() ? nullptr : dirOption->second.c_str());
    std::string bad;

    if (line.verb == "boot") {
        if (!line.words.empty() || !onlyOptions(line, {"--config"}, &bad)) return usageError("boot: unexpected " + bad);
        auto config = line.options.find("--config");
        return bootMachine(directory, config == line.options.end() ? "" : config->second, bootKernel);
    }
    if (line.verb == "shutdown") {
        if (!line.words.empty() || !onlyOptions(line, {}, &bad)) return usageError("shutdown: unexpected " + bad);
        return shutdownMachine(directory);
    }
    if (line.verb == "reboot") {
        if (!line.words.empty() || !onlyOptions(line, {}, &bad)) return usageError("reboot: unexpected " + bad);
        auto reply = control(directory, wire::Op::Reboot, {}, kRebootTimeoutMs);
        if (!reply) return 1;
        if (reply->status != 0) {
            std::fprintf(stderr, "lxmachine: %s\n", reply->text().c_str());
            return 1;
        }
        std::printf("machine at %s rebooted\n", directory.c_str());
        return 0;
    }
    if (line.verb == "status") {
        if (!line.words.empty() || !onlyOptions(line, {"--json"}, &bad)) return usageError("status: unexpected " + bad);
        return status(directory, line.options.contains("--json"));
    }
    if (line.verb == "plug") {
        const bool audio = line.words.size() == 1 && line.words[0] == "heron_audio";
        if (line.words.size() != 1 || (line.words[0] != "terncard" && !audio))
            return usageError("plug takes the device kind terncard or heron_audio");
        if (audio) {
            if (!onlyOptions(line, {"--port"}, &bad)) return usageError("plug: unexpected " + bad);
            return plugAudio(directory, line);
        }
        if (!onlyOptions(line, {"--signature", "--revision", "--switch"}, &bad)) return usageError("plug: unexpected " + bad);
        return plug(directory, line);
    }
    if (line.verb == "unplug") {
        if (line.words.empty() || (line.words[0] != "terncard" && line.words[0] != "heron_audio"))
            return usageError("unplug takes the device kind terncard or heron_audio");
        if (!onlyOptions(line, {"--surprise"}, &bad)) return usageError("unplug: unexpected " + bad);
        if (line.words[0] == "heron_audio") return unplug(directory, line, wire::Op::UnplugAudio, "audio function");
        return unplug(directory, line, wire::Op::Unplug, "card");
    }
    if (line.verb == "display") {
        wire::DisplayRecord mode{};
        if (line.words.size() != 1 || !parseDisplayMode(line.words[0], &mode.width, &mode.height, &mode.bits))
            return usageError("display takes WIDTHxHEIGHTxBITS with BITS 8, 15, 16, 24 or 32");
        if (!onlyOptions(line, {}, &bad)) return usageError("display: unexpected " + bad);
        wire::PayloadWriter w;
        w.record(mode);
        auto reply = control(directory, wire::Op::Display, w.data());
        if (!reply) return 1;
        if (reply->status != 0) {
            std::fprintf(stderr, "lxmachine: the display refused mode %s\n", line.words[0].c_str());
            return 1;
        }
        std::printf("display mode %s\n", line.words[0].c_str());
        return 0;
    }
    if (line.verb == "source") {
        if (!onlyOptions(line, {}, &bad)) return usageError("source: unexpected " + bad);
        return connectSource(directory, line);
    }
    if (line.verb == "switch") {
        if (!onlyOptions(line, {}, &bad)) return usageError("switch: unexpected " + bad);
        return setSwitch(directory, line);
    }
    return usageError(line.verb.empty() ? "no command given" : "unknown command " + line.verb);
}

}  // namespace lxm
