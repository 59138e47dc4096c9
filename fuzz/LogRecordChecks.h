#pragma once

#include "Require.h"

#include "core/ledger/StateFile.h"
#include "core/model/UsageRecord.h"
#include "core/sources/JsonlRecordReader.h"

#include <string_view>
#include <unordered_set>
#include <vector>

namespace fernhollow::fuzz {

// What the records of one log must hold whatever the log says: they carry the file's names,
// each counts something, streamed copies are gone, and the state file that caches them
// reads them back (one record it cannot read would cost the whole cache).
inline void checkLogRecords(const std::vector<UsageRecord>& records, std::string_view project,
                            std::string_view session) {
    std::unordered_set<std::string_view> messageIds;
    for (const UsageRecord& record : records) {
        require(record.projectPath == project && record.sessionId == session,
                "a record carries its file's project and session");
        require(countedTokens(record).value_or(0) != 0, "a record counts some tokens");
        require(record.messageId.empty() || messageIds.insert(record.messageId).second,
                "one record per message id");
    }
    PersistedState state;
    state.records = records;
    const std::string encoded = encodeState(state);
    const auto decoded = decodeState(encoded);
    require(decoded && encodeState(*decoded) == encoded, "the state file reads back the records it caches");
}

} // namespace fernhollow::fuzz
