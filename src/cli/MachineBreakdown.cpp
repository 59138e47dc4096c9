#include "cli/MachineBreakdown.h"

#include "core/model/IsoDate.h"
#include "core/model/JsonWriter.h"
#include "core/model/ModelPricing.h"

#include <algorithm>

namespace fernhollow {

std::vector<MachineTotals> machineTotals(Ledger& ledger, const std::optional<DeviceIdentity>& self,
                                         double thisPass) {
    const std::optional<std::int64_t> scope = ledger.deviceScope();
    std::vector<std::pair<std::int64_t, MachineTotals>> machines;
    if (!scope || *scope == 0) {
        machines.emplace_back(
            0, MachineTotals{"this", self ? self->host : "this machine", true, thisPass, 0, {}});
    }
    for (const Device& device : ledger.devices()) {
        if (!scope || *scope == device.id) {
            machines.emplace_back(device.id,
                                  MachineTotals{device.uuid, device.host, false, device.lastSeen, 0, {}});
        }
    }
    const ModelPricing::Pricer pricer;
    for (const ModelTotal& model : ledger.modelTotals()) {
        const auto owner = std::find_if(machines.begin(), machines.end(),
                                        [&](const auto& machine) { return machine.first == model.device; });
        if (owner != machines.end()) {
            owner->second.records += model.records;
            owner->second.totals.add(model.sums, pricer.cost(model.sums));
        }
    }
    std::vector<MachineTotals> totals;
    for (auto& [row, machine] : machines) {
        totals.push_back(std::move(machine));
    }
    return totals;
}

void appendMachinesJson(std::string& out, const std::vector<MachineTotals>& machines) {
    out += ",\"devices\":[";
    for (const MachineTotals& machine : machines) {
        out += &machine == &machines.front() ? "{\"id\":" : ",{\"id\":";
        json::appendString(out, machine.id);
        out += ",\"name\":";
        json::appendString(out, machine.name);
        out += machine.thisMachine ? ",\"thisMachine\":true,\"lastSeen\":"
                                   : ",\"thisMachine\":false,\"lastSeen\":";
        if (machine.lastSeen == 0.0) {
            out += "null";
        } else {
            json::appendString(out, isodate::formatUtcWholeSeconds(machine.lastSeen));
        }
        out += ",\"records\":";
        json::appendInteger(out, machine.records);
        out += ",\"tokens\":";
        json::appendInteger(out, machine.totals.allTokens());
        out += ",\"usd\":";
        json::appendNumber(out, machine.totals.usd);
        out += "}";
    }
    out += "]";
}

std::vector<UsageReport::Row> machineRows(const std::vector<MachineTotals>& machines) {
    std::vector<UsageReport::Row> rows;
    if (machines.size() > 1) {
        for (const MachineTotals& machine : machines) {
            rows.push_back(
                {machine.thisMachine ? machine.name + " (this machine)" : machine.name, machine.totals});
        }
    }
    return rows;
}

} // namespace fernhollow
