#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

// Reads a JSON Lines log whole and gives the records of its lines in line order.
// A file that cannot be read, or is not valid UTF-8 throughout, gives nothing; a file may end
// partway through a character, as a half-written last line does. Lines split at LF, CR and
// CR LF only; a line that is not one complete JSON object (a half-written last line, say)
// gives nothing. Streamed copies of one message collapse to one record.
std::vector<UsageRecord> readJsonlRecords(const LogFile& file, LineParsers& parsers,
                                          const LineRecordReader& readLine);

struct JsonlRead {
    std::vector<UsageRecord> records;
    std::size_t endOfLastLine = 0; // just past the last line break of `text`; 0 when it has none
};

// The same over `text`, a stretch of a log that starts at a line and is followed by
// simdjson's padding. Its last line is read when it is whole JSON even without a line break.
JsonlRead readJsonlText(std::string_view text, const LogFile& file, LineParsers& parsers,
                        const LineRecordReader& readLine);

// Appends the record of `line`, one log line held on its own (a database row, say), if it has
// one. The line needs no padding after it.
void readJsonlLine(std::string_view line, const LogFile& file, LineParsers& parsers,
                   const LineRecordReader& readLine, std::vector<UsageRecord>& records);

// Agents stream one reply as several lines sharing a message id, and only the last carries
// the final output count. Keeps, at the position of the first copy, the copy with the
// largest sum of the four counts (the later one on a tie). Records without an id stay.
void collapseStreamedCopies(std::vector<UsageRecord>& records);

// A token count: an integer-valued JSON number within 64 signed bits.
std::optional<std::int64_t> tokenCount(simdjson::simdjson_result<simdjson::dom::element> value);
// The same of a number read as a float: 2.0 is a count written so; 2.5 is not a count.
std::optional<std::int64_t> tokenCount(double number);

// The price tiers a usage object says its reply was served in: Claude's fast mode
// ("speed": "fast") and priority processing ("service_tier": "priority").
PriceClass requestedPriceClass(simdjson::dom::object usage);
// The same from the two fields' texts, where they are text.
PriceClass requestedPriceClass(std::optional<std::string_view> speed, std::optional<std::string_view> tier);

// input + output + cache write + cache read, or nothing when the sum overflows 64 bits.
std::optional<std::int64_t> countedTokens(const UsageRecord& record);

} // namespace fernhollow
