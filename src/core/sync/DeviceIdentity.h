#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace fernhollow {

// The machine a shared usage file belongs to: a random id made once per install, and the host
// name for people to read.
struct DeviceIdentity {
    std::string id;
    std::string host;
    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

// This install's identity: the id kept in `dataFolder` (made there the first time) and the
// host name as it is now. None when a new id cannot be kept there.
std::optional<DeviceIdentity> thisDevice(const std::filesystem::path& dataFolder);

} // namespace fernhollow
