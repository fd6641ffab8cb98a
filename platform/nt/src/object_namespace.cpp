#include "object_namespace.h"

#include <algorithm>

#include "unicode_text.h"

namespace nt {

std::string ObjectNamespace::canonical(const std::string& name) {
    const std::string lower = lowerAscii(name);
    for (const char* prefix : {"\\dosdevices\\", "\\global??\\", "\\\\.\\", "\\\\?\\", "\\??\\"}) {
        const std::string p = prefix;
        if (lower.compare(0, p.size(), p) == 0) return "\\??\\" + name.substr(p.size());
    }
    return name;
}

void ObjectNamespace::addDevice(PDEVICE_OBJECT device) {
    std::lock_guard lock(mutex_);
    devices_.insert(device);
}

void ObjectNamespace::dropDevice(PDEVICE_OBJECT device) {
    std::lock_guard lock(mutex_);
    devices_.erase(device);
    for (auto it = names_.begin(); it != names_.end();) {
        it = it->second == device ? names_.erase(it) : std::next(it);
    }
}

bool ObjectNamespace::isDevice(PDEVICE_OBJECT device) const {
    std::lock_guard lock(mutex_);
    return devices_.count(device) != 0;
}

std::vector<PDEVICE_OBJECT> ObjectNamespace::devices() const {
    std::lock_guard lock(mutex_);
    return {devices_.begin(), devices_.end()};
}

NTSTATUS ObjectNamespace::nameDevice(const std::string& name, PDEVICE_OBJECT device) {
    if (name.empty() || name[0] != '\\') return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard lock(mutex_);
    auto [it, inserted] = names_.emplace(lowerAscii(canonical(name)), device);
    return inserted ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

void ObjectNamespace::unnameDevice(const std::string& name) {
    std::lock_guard lock(mutex_);
    names_.erase(lowerAscii(canonical(name)));
}

PDEVICE_OBJECT ObjectNamespace::deviceByName(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = names_.find(lowerAscii(canonical(name)));
    return it == names_.end() ? nullptr : it->second;
}

NTSTATUS ObjectNamespace::createLink(const std::string& link, const std::string& target, PDRIVER_OBJECT owner) {
    if (link.empty() || target.empty()) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard lock(mutex_);
    auto [it, inserted] = links_.emplace(lowerAscii(canonical(link)), Link{target, owner});
    return inserted ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS ObjectNamespace::deleteLink(const std::string& link) {
    std::lock_guard lock(mutex_);
    return links_.erase(lowerAscii(canonical(link))) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

std::vector<std::string> ObjectNamespace::deleteLinksOf(PDRIVER_OBJECT owner) {
    std::vector<std::string> removed;
    if (!owner) return removed;
    std::lock_guard lock(mutex_);
    for (auto it = links_.begin(); it != links_.end();) {
        if (it->second.owner == owner) {
            removed.push_back(it->first);
            it = links_.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

std::optional<std::string> ObjectNamespace::linkTarget(const std::string& link) const {
    std::lock_guard lock(mutex_);
    auto it = links_.find(lowerAscii(canonical(link)));
    if (it == links_.end()) return std::nullopt;
    return it->second.target;
}

std::string ObjectNamespace::registerInterface(PDEVICE_OBJECT pdo, const std::string& instancePath, const GUID& guid,
                                               const std::string& reference) {
    std::string path = instancePath;
    std::replace(path.begin(), path.end(), '\\', '#');
    std::string link = "\\??\\" + path + "#" + guidToString(guid);
    if (!reference.empty()) link += "\\" + reference;
    std::lock_guard lock(mutex_);
    for (const Interface& existing : interfaces_) {
        if (equalsIgnoreCase(existing.link, link)) return existing.link;
    }
    interfaces_.push_back(Interface{link, guid, pdo, false});
    return link;
}

NTSTATUS ObjectNamespace::setInterfaceState(const std::string& link, bool enable, const std::string& pdoName) {
    std::lock_guard lock(mutex_);
    const std::string key = lowerAscii(canonical(link));
    for (Interface& entry : interfaces_) {
        if (lowerAscii(entry.link) != key) continue;
        if (entry.enabled == enable) return STATUS_SUCCESS;
        entry.enabled = enable;
        if (enable)
            links_[key] = Link{pdoName, nullptr};
        else
            links_.erase(key);
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

void ObjectNamespace::dropInterfacesOf(PDEVICE_OBJECT pdo) {
    std::lock_guard lock(mutex_);
    for (auto it = interfaces_.begin(); it != interfaces_.end();) {
        if (it->pdo == pdo) {
            links_.erase(lowerAscii(it->link));
            it = interfaces_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<ObjectNamespace::Interface> ObjectNamespace::interfaces() const {
    std::lock_guard lock(mutex_);
    return interfaces_;
}

PDEVICE_OBJECT ObjectNamespace::resolve(const std::string& path) const {
    std::string name = canonical(path);
    std::lock_guard lock(mutex_);
    for (int hops = 0; hops < 8; ++hops) {
        const std::string key = lowerAscii(name);
        if (auto device = names_.find(key); device != names_.end()) return device->second;
        auto link = links_.find(key);
        if (link == links_.end()) return nullptr;
        name = canonical(link->second.target);
    }
    return nullptr;
}

}  // namespace nt
