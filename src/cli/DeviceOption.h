#pragma once

#include "core/ledger/Ledger.h"
#include "core/sync/DeviceIdentity.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace fernhollow {

// The machines a figure counts, as the ledger's device scope takes them: one machine (0: this
// one), or every machine when none.
using DeviceScope = std::optional<std::int64_t>;

// What `--device ARGUMENT` counts: "this", "all", or the one machine, this one included, whose
// host name or device id (in any case) it is. Otherwise the one line that tells the user why not:
// it names no machine, or more than one.
std::variant<DeviceScope, std::string> deviceScopeOf(std::string_view argument,
                                                     std::span<const Device> devices,
                                                     const std::optional<DeviceIdentity>& self);

} // namespace fernhollow
