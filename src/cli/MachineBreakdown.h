#pragma once

#include "cli/UsageReport.h"
#include "core/ledger/Ledger.h"
#include "core/sync/DeviceIdentity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fernhollow {

// What one machine's records hold in a report.
struct MachineTotals {
    std::string id; // the machine's device id; "this" for this machine
    std::string name;
    bool thisMachine = false;
    double lastSeen = 0.0; // when it last wrote its shared file, by its clock; 0: never
    std::int64_t records = 0;
    TokenTotals totals;
};

// Every machine the ledger's device scope counts, with the sums of its records over all of
// history: this machine first, seen at `thisPass`, then the others as the folder first showed them.
std::vector<MachineTotals> machineTotals(Ledger& ledger, const std::optional<DeviceIdentity>& self,
                                         double thisPass);

// `,"devices":[…]`, each machine's id, name, whether it is this one, when it was last seen (ISO
// time, or null), its records, tokens and dollars.
void appendMachinesJson(std::string& out, const std::vector<MachineTotals>& machines);

// The rows of the report's "By machine" section: none for a single machine.
std::vector<UsageReport::Row> machineRows(const std::vector<MachineTotals>& machines);

} // namespace fernhollow
