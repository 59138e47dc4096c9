#pragma once

#include "core/sync/SharedFolder.h"
#include "support/TempTree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fernhollow::test {

// A Sonnet reply of `outputTokens` at `at` in another machine's project "desk-app".
inline UsageRecord otherMachinesReply(const std::string& id, double at, std::int64_t outputTokens) {
    UsageRecord record;
    record.messageId = id;
    record.timestamp = at;
    record.model = InternedString("claude-sonnet-4-5");
    record.projectPath = InternedString("-home-dev-desk-app");
    record.sessionId = InternedString("desk-session");
    record.outputTokens = outputTokens;
    return record;
}

// Another machine whose ledger holds `records` writes its file into `folder` as its pass at `now` does.
inline void shareAsAnotherMachine(const std::filesystem::path& folder, const DeviceIdentity& device,
                                  std::vector<UsageRecord> records, double now) {
    const TempTree home;
    Ledger ledger(home / "ledger.sqlite3");
    ledger.apply({UsageSource::claudeCode, RecordRule::keepLarger, std::move(records), {}, {}});
    passSharedFolder(ledger, folder, device, now, OwnFileWrite::withNewRecords);
}

} // namespace fernhollow::test
