#pragma once

#include "core/model/InternedString.h"
#include "core/model/PriceClass.h"
#include "core/model/Uuid.h"

#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

namespace fernhollow {

// One usage event of one model. Never holds a price: cost is derived at display time so
// that a change of rates reprices history at once.
struct UsageRecord {
    Uuid id;
    std::string messageId;
    double timestamp = 0.0; // seconds since 1970-01-01T00:00:00Z
    InternedString model;
    std::int64_t inputTokens = 0;
    std::int64_t outputTokens = 0;
    std::int64_t cacheCreationInputTokens = 0; // all cache writes, 5-minute and 1-hour together
    std::int64_t cacheCreation1hTokens = 0;    // the 1-hour part of the line above, not in addition to it
    std::int64_t cacheReadInputTokens = 0;
    InternedString projectPath;
    InternedString sessionId;
    // Decided once from the record's own counts; never a threshold on summed counts, which
    // would make the cost of a sum differ from the sum of the costs.
    PriceClass priceClass = 0;

    friend bool operator==(const UsageRecord&, const UsageRecord&) = default;
};

// Appends the record as a JSON object with all eleven keys; the timestamp in UTC whole seconds.
// The price class is not written: the old state file that holds such objects predates it.
void appendJson(std::string& out, const UsageRecord& record);

// The same for many records: the shared names are escaped once, not once per record.
class UsageRecordJsonWriter {
public:
    void append(std::string& out, const UsageRecord& record);

private:
    const std::string& escaped(const InternedString& text);
    std::unordered_map<const void*, std::string> escaped_;
};

// Strict inverse of appendJson: every key required, exact JSON types, canonical UUID text
// and a whole-second UTC timestamp. Any deviation fails the record. Unknown keys are skipped.
std::optional<UsageRecord> usageRecordFromJson(simdjson::dom::element element);
std::optional<UsageRecord> usageRecordFromJson(std::string_view json);

} // namespace fernhollow
