// `lxmachine status`: a one-line summary, or the kernel's JSON report with
// the daemon's own view of processes, views and named objects merged in.
#include <unistd.h>

#include <cstdio>

#include "lxmachine/nt_status_codes.h"
#include "machine_daemon.h"

namespace lxm {

namespace {

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

// Adds `fields` (a comma-separated member list) to a JSON object text; a
// report that is not an object is kept whole under "kernel".
std::string mergeInto(const std::string& object, const std::string& fields) {
    size_t open = object.find_first_not_of(" \t\r\n");
    size_t close = object.find_last_not_of(" \t\r\n");
    if (open == std::string::npos || object[open] != '{' || object[close] != '}')
        return "{\"kernel\":" + (object.empty() ? std::string("null") : object) + "," + fields + "}";
    std::string inner = object.substr(open + 1, close - open - 1);
    bool empty = inner.find_first_not_of(" \t\r\n") == std::string::npos;
    return "{" + inner + (empty ? "" : ",") + fields + "}";
}

}  // namespace

std::string MachineDaemon::statusJson() {
    if (!acceptingClients_.load())
        return "{\"running\":false,\"accepting\":false,\"machine\":{\"directory\":" + quoted(options_.directory) +
               ",\"pid\":" + std::to_string(::getpid()) + ",\"boot\":" + std::to_string(bootCount_.load()) + "}}";
    std::vector<std::shared_ptr<ClientProcess>> processes;
    {
        std::lock_guard lock(stateLock_);
        for (auto& [token, p] : processes_) processes.push_back(p);
    }
    std::string fields = "\"machine\":{\"directory\":" + quoted(options_.directory) +
                         ",\"pid\":" + std::to_string(::getpid()) + ",\"boot\":" + std::to_string(bootCount_.load()) +
                         ",\"config\":" + quoted(options_.configPath) + "}";
    fields += ",\"clients\":[";
    bool firstProcess = true;
    for (auto& p : processes) {
        if (!p->alive()) continue;
        fields += firstProcess ? "" : ",";
        firstProcess = false;
        fields += "{\"id\":" + std::to_string(p->processId()) + ",\"pid\":" + std::to_string(p->osPid()) + ",\"views\":[";
        bool first = true;
        for (const auto& v : p->views()) {
            fields += (first ? "" : ",") + std::string("{\"address\":") + std::to_string(v.address) +
                      ",\"length\":" + std::to_string(v.length) + ",\"physical\":" + std::to_string(v.physical) +
                      ",\"object\":" + std::to_string(v.objectHandle) + "}";
            first = false;
        }
        fields += "],\"objects\":[";
        first = true;
        for (const auto& [handle, name] : objects_.handlesOf(p->processId())) {
            fields += (first ? "" : ",") + std::string("{\"handle\":") + std::to_string(handle) +
                      ",\"name\":" + quoted(name) + "}";
            first = false;
        }
        fields += "],\"channelRequests\":" + std::to_string(p->channelRequests()) + "}";
    }
    fields += "],\"namedObjects\":[";
    bool first = true;
    for (const auto& o : objects_.objects()) {
        fields += (first ? "" : ",") + std::string("{\"name\":") + quoted(o.name) + ",\"kind\":" +
                  quoted(o.kind == ObjectKind::Mapping ? "mapping" : "mutex") + ",\"size\":" + std::to_string(o.size) +
                  ",\"handles\":" + std::to_string(o.handles) + ",\"owner\":" + std::to_string(o.ownerProcess) + "}";
        first = false;
    }
    fields += "]";
    std::string kernelReport;
    {
        std::shared_lock kernel(kernelLock_);
        kernelReport = kernel_ ? kernel_->statusJson() : "{}";
    }
    return mergeInto(kernelReport, fields);
}

std::string MachineDaemon::notAcceptingLine() const {
    return "not accepting clients at " + options_.directory + " (pid " + std::to_string(::getpid()) + ", boot " +
           std::to_string(bootCount_.load()) + "): the machine is rebooting or powering off";
}

std::string MachineDaemon::statusLine() {
    size_t processes;
    {
        std::lock_guard lock(stateLock_);
        processes = processes_.size();
    }
    size_t objects = objects_.objects().size();
    std::shared_lock kernel(kernelLock_);
    DisplayConfig mode = kernel_ ? kernel_->displayMode() : config_.display;
    char line[512];
    std::snprintf(line, sizeof line,
                  "running at %s (pid %d, boot %u): %zu terncard(s) configured, display %ux%ux%u, %zu client "
                  "process(es), %zu named object(s)",
                  options_.directory.c_str(), static_cast<int>(::getpid()), bootCount_.load(), config_.terncards.size(),
                  mode.width, mode.height, mode.bits, processes, objects);
    return line;
}

}  // namespace lxm
