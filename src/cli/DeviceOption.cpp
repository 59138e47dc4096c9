#include "cli/DeviceOption.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace fernhollow {
namespace {

bool sameId(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::variant<DeviceScope, std::string> deviceScopeOf(std::string_view argument,
                                                     std::span<const Device> devices,
                                                     const std::optional<DeviceIdentity>& self) {
    if (argument == "this") {
        return DeviceScope(0);
    }
    if (argument == "all") {
        return DeviceScope();
    }
    // An id names one machine; a host name may name two, as when an install made anew left the
    // old one's file in the folder.
    std::vector<std::pair<std::int64_t, std::string>> named;
    if (self && (sameId(self->id, argument) || self->host == argument)) {
        named.emplace_back(0, self->id);
    }
    for (const Device& device : devices) {
        if (sameId(device.uuid, argument) || device.host == argument) {
            named.emplace_back(device.id, device.uuid);
        }
    }
    if (named.size() == 1) {
        return DeviceScope(named.front().first);
    }
    if (named.empty()) {
        return "--device needs this, all, or the name or id of a machine that shares through the folder, "
               "not '" +
               std::string(argument) + "'";
    }
    std::string ids;
    for (const auto& [row, id] : named) {
        ids += (ids.empty() ? "" : ", ") + id;
    }
    return "--device '" + std::string(argument) + "' names " + std::to_string(named.size()) +
           " machines; give one's id: " + ids;
}

} // namespace fernhollow
