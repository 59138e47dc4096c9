#include "core/sources/JsonlRecordReader.h"

#include "core/common/PaddedFile.h"
#include "core/model/Clock.h"
#include "core/model/IsoDate.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonLines.h"

#include <cmath>
#include <unordered_map>

namespace fernhollow {
namespace {

// An internet date-time, or the current time when the text is not one.
double timestampOrNow(std::string_view text) {
    if (const auto parsed = isodate::parseInternetDateTime(text)) {
        return *parsed;
    }
    return Clock::system().now();
}

// The record the reader takes from a line parsed whole; false when the line is not a JSON object.
bool readParsed(std::string_view text, bool copy, simdjson::dom::parser& parser,
                const LineRecordReader::Parsed& read, std::optional<LineUsage>& usage) {
    simdjson::dom::object line;
    if (parser.parse(text.data(), text.size(), copy).get_object().get(line) != simdjson::SUCCESS) {
        return false;
    }
    usage = read(line);
    return true;
}

// The record the reader takes from walking a line; false when the line is refused as not JSON
// where it was walked.
bool readWalked(std::string_view text, bool copy, simdjson::ondemand::parser& parser,
                const LineRecordReader::Walked& walk, std::optional<LineUsage>& usage) {
    simdjson::padded_string copied;
    if (copy) {
        copied = simdjson::padded_string(text);
        text = copied;
    }
    simdjson::ondemand::document line;
    // Stage one checks the whole line's UTF-8 and refuses a line cut inside a string.
    if (parser
            .iterate(simdjson::padded_string_view(text.data(), text.size(),
                                                  text.size() + simdjson::SIMDJSON_PADDING))
            .get(line) != simdjson::SUCCESS) {
        return false;
    }
    usage = walk(line);
    // A walker that took a record went through every field: it then stands at the end of the line,
    // or before whatever follows the object, which refuses the line.
    if (usage && line.current_location().error() != simdjson::OUT_OF_BOUNDS) {
        usage.reset();
        return false;
    }
    return true;
}

// Appends the record of one line, if it has one; false when the line is found not to be a JSON
// object, or, when it lacks the reader's mark, not UTF-8.
// A line not followed by simdjson's padding is copied before it is read.
bool readLineInto(std::vector<UsageRecord>& records, std::string_view text, bool copy, const LogFile& file,
                  LineParsers& parsers, const LineRecordReader& readLine) {
    if (!readLine.mark.empty() && !holdsText(text, readLine.mark)) {
        return simdjson::validate_utf8(text.data(), text.size());
    }
    std::optional<LineUsage> usage;
    const bool object =
        std::holds_alternative<LineRecordReader::Parsed>(readLine.read)
            ? readParsed(text, copy, parsers.parsed, std::get<LineRecordReader::Parsed>(readLine.read), usage)
            : readWalked(text, copy, parsers.walked, std::get<LineRecordReader::Walked>(readLine.read),
                         usage);
    if (usage) {
        UsageRecord& record = records.emplace_back(std::move(usage->record));
        record.timestamp = timestampOrNow(usage->timestamp);
        record.projectPath = file.projectPath;
        record.sessionId = file.sessionId;
    }
    return object;
}

} // namespace

void readJsonlLine(std::string_view line, const LogFile& file, LineParsers& parsers,
                   const LineRecordReader& readLine, std::vector<UsageRecord>& records) {
    readLineInto(records, line, true, file, parsers, readLine);
}

std::vector<UsageRecord> readJsonlRecords(const LogFile& file, LineParsers& parsers,
                                          const LineRecordReader& readLine) {
    if (!parsers.log.readAgain(file.path)) {
        return {};
    }
    return readJsonlText(parsers.log.bytes(), file, parsers, readLine).records;
}

JsonlRead readJsonlText(std::string_view text, const LogFile& file, LineParsers& parsers,
                        const LineRecordReader& readLine) {
    JsonlRead read;
    std::vector<UsageRecord>& records = read.records;
    // The parser validates the UTF-8 of every line it accepts, and only line breaks lie
    // outside lines; so the whole text needs its own check only when some line was refused.
    bool anyLineRefused = false;
    for (std::size_t start = 0; start < text.size();) {
        const auto [end, next] = lineEnd(text, start);
        if (next > end) {
            read.endOfLastLine = next;
        }
        if (end > start) {
            // The buffer is padded at its end, so a line inside it can be parsed in place.
            if (!readLineInto(records, text.substr(start, end - start), false, file, parsers, readLine)) {
                anyLineRefused = true;
            }
        }
        start = next;
    }
    // A log still being appended to may stop partway through a character whose other bytes
    // have yet to come; only the refused half-written line holds them.
    if (anyLineRefused && !utf8::isValid(text.substr(0, text.size() - utf8::unfinishedEndLength(text)))) {
        records.clear();
        return read;
    }
    collapseStreamedCopies(records);
    return read;
}

void collapseStreamedCopies(std::vector<UsageRecord>& records) {
    std::unordered_map<std::string_view, std::size_t> firstIndex;
    std::vector<bool> superseded(records.size(), false);
    bool anyCopy = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].messageId.empty()) {
            continue;
        }
        const auto [it, inserted] = firstIndex.emplace(records[i].messageId, i);
        if (inserted) {
            continue;
        }
        anyCopy = true;
        superseded[i] = true;
        UsageRecord& kept = records[it->second];
        // Counted sums never overflow: lines whose counts overflow are refused when read.
        if (countedTokens(records[i]).value_or(0) >= countedTokens(kept).value_or(0)) {
            // Both objects outlive the map, so its key (the id text) stays readable after the swap.
            std::swap(kept, records[i]);
        }
    }
    if (!anyCopy) {
        return;
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!superseded[i]) {
            if (out != i) {
                records[out] = std::move(records[i]);
            }
            ++out;
        }
    }
    records.resize(out);
}

std::optional<std::int64_t> tokenCount(simdjson::simdjson_result<simdjson::dom::element> value) {
    simdjson::dom::element element;
    if (value.get(element) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    switch (element.type()) {
    case simdjson::dom::element_type::INT64:
        return element.get_int64().value_unsafe();
    case simdjson::dom::element_type::DOUBLE:
        return tokenCount(element.get_double().value_unsafe());
    default:
        return std::nullopt;
    }
}

std::optional<std::int64_t> tokenCount(double number) {
    // 2^63 itself does not fit.
    if (std::trunc(number) == number && number >= -9223372036854775808.0 && number < 9223372036854775808.0) {
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

PriceClass requestedPriceClass(simdjson::dom::object usage) {
    const auto text = [&](const char* key) -> std::optional<std::string_view> {
        std::string_view value;
        return usage[key].get_string().get(value) == simdjson::SUCCESS ? std::optional(value) : std::nullopt;
    };
    return requestedPriceClass(text("speed"), text("service_tier"));
}

PriceClass requestedPriceClass(std::optional<std::string_view> speed, std::optional<std::string_view> tier) {
    PriceClass requested = 0;
    if (speed == "fast") {
        requested |= priceClass::fast;
    }
    if (tier == "priority") {
        requested |= priceClass::priority;
    }
    return requested;
}

std::optional<std::int64_t> countedTokens(const UsageRecord& record) {
    std::int64_t sum = 0;
    for (const std::int64_t count : {record.inputTokens, record.outputTokens, record.cacheCreationInputTokens,
                                     record.cacheReadInputTokens}) {
        if (__builtin_add_overflow(sum, count, &sum)) {
            return std::nullopt;
        }
    }
    return sum;
}

} // namespace fernhollow
