#include "core/sync/DeviceIdentity.h"

#include "core/common/AtomicFile.h"
#include "core/model/Uuid.h"

#include <unistd.h>

#include <array>
#include <fstream>

namespace fernhollow {
namespace {

constexpr std::string_view idFileName = "device-id";

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "this machine";
    }
    return name.data();
}

} // namespace

std::optional<DeviceIdentity> thisDevice(const std::filesystem::path& dataFolder) {
    const std::filesystem::path file = dataFolder / idFileName;
    std::string id;
    std::getline(std::ifstream(file), id);
    if (!Uuid::fromCanonicalString(id)) {
        id = Uuid::random().toString();
        std::error_code ignored;
        std::filesystem::create_directories(dataFolder, ignored);
        // An id that is not kept would be another machine at every start, each with a file.
        if (!writeAtomically(file, id + "\n", 0600, file.string() + ".writing")) {
            return std::nullopt;
        }
    }
    return DeviceIdentity{id, hostName()};
}

} // namespace fernhollow
