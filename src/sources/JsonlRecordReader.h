#pragma once

#include "model/UsageRecord.h"
#include "sources/IncrementalScan.h"

#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

// What a source's line reader takes from one log line: the counts, model and message id in
// `record`, and the line's time as written. The shared reader adds a fresh id, the time and
// the file's project and session.
struct LineUsage {
    UsageRecord record;
    std::string_view timestamp;
};

using LineRecordReader = std::function<std::optional<LineUsage>(simdjson::dom::object line)>;

// Reads a JSON Lines log whole and gives the records of its lines in line order.
// A file that cannot be read, or is not valid UTF-8 throughout, gives nothing; a file may end
// partway through a character, as a half-written last line does. Lines split at LF, CR and
// CR LF only; a line that is not one complete JSON object (a half-written last line, say)
// gives nothing. Streamed copies of one message collapse to one record.
std::vector<UsageRecord> readJsonlRecords(const LogFile& file, simdjson::dom::parser& parser,
                                          const LineRecordReader& readLine);

// Agents stream one reply as several lines sharing a message id, and only the last carries
// the final output count. Keeps, at the position of the first copy, the copy with the
// largest sum of the four counts (the later one on a tie). Records without an id stay.
void collapseStreamedCopies(std::vector<UsageRecord>& records);

// A token count: an integer-valued JSON number within 64 signed bits.
std::optional<std::int64_t> tokenCount(simdjson::simdjson_result<simdjson::dom::element> value);

// input + output + cache write + cache read, or nothing when the sum overflows 64 bits.
std::optional<std::int64_t> countedTokens(const UsageRecord& record);

} // namespace fernhollow
