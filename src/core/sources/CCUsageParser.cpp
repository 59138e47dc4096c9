#include "core/sources/CCUsageParser.h"

#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace fernhollow::CCUsageParser {
namespace {

namespace od = simdjson::ondemand;

// A field of another type than the one read counts as absent, as in a parsed line; any other
// error is the line's, and refuses it.
bool sound(simdjson::error_code error) {
    return error == simdjson::SUCCESS || error == simdjson::INCORRECT_TYPE;
}

// The value of the first field of a name, as a lookup in a parsed line finds it: later ones
// are not read.
template <typename T> struct FirstField {
    std::optional<T> value; // when of type T
    bool seen = false;

    // Takes `field` if it is the first of its name: false when the line is malformed there.
    bool take(od::value field) {
        if (seen) {
            return true;
        }
        seen = true;
        if constexpr (std::is_same_v<T, od::number>) {
            // Reading a number fails alike for another type and for a malformed number.
            od::json_type type;
            if (field.type().get(type) != simdjson::SUCCESS) {
                return false;
            }
            if (type != od::json_type::number) {
                return true;
            }
        }
        T read;
        const simdjson::error_code error = field.get(read);
        if (error == simdjson::SUCCESS) {
            value = read;
        }
        return sound(error);
    }
};

// Calls visit(key, value) for each field of `object`, keys as written: false when the object,
// or a value `visit` read, is malformed.
template <typename Visit> bool walkFields(od::object object, const Visit& visit) {
    for (auto field : object) {
        od::raw_json_string key;
        od::value value;
        if (field.key().get(key) != simdjson::SUCCESS || field.value().get(value) != simdjson::SUCCESS ||
            !visit(key, value)) {
            return false;
        }
    }
    return true;
}

// What a record takes from a usage object.
struct UsageFields {
    FirstField<od::number> input;
    FirstField<od::number> output;
    FirstField<od::number> cacheWrite;
    FirstField<od::number> cacheRead;
    FirstField<od::number> oneHourWrite; // of the object "cache_creation"
    FirstField<std::string_view> speed;
    FirstField<std::string_view> tier;
    bool seen = false;
    bool found = false; // the first field of the name was an object

    // Reads `field` if it is the first usage object of its place: false when it is malformed.
    bool walk(od::value field) {
        if (seen) {
            return true;
        }
        seen = true;
        od::object usage;
        if (const simdjson::error_code error = field.get(usage); error != simdjson::SUCCESS) {
            return sound(error);
        }
        found = true;
        FirstField<od::object> cacheCreation;
        using Count = std::pair<std::string_view, FirstField<od::number>*>;
        using Text = std::pair<std::string_view, FirstField<std::string_view>*>;
        const Count counts[] = {{"input_tokens", &input},
                                {"output_tokens", &output},
                                {"cache_creation_input_tokens", &cacheWrite},
                                {"cache_read_input_tokens", &cacheRead}};
        const Text texts[] = {{"speed", &speed}, {"service_tier", &tier}};
        return walkFields(usage, [&](od::raw_json_string key, od::value value) {
            for (const auto& [name, count] : counts) {
                if (key.unsafe_is_equal(name)) {
                    return count->take(value);
                }
            }
            for (const auto& [name, text] : texts) {
                if (key.unsafe_is_equal(name)) {
                    return text->take(value);
                }
            }
            if (key.unsafe_is_equal("cache_creation") && !cacheCreation.seen) {
                return cacheCreation.take(value) &&
                       (!cacheCreation.value ||
                        walkFields(*cacheCreation.value, [&](od::raw_json_string inner, od::value count) {
                            return !inner.unsafe_is_equal("ephemeral_1h_input_tokens") ||
                                   oneHourWrite.take(count);
                        }));
            }
            return true;
        });
    }
};

std::int64_t countOf(const FirstField<od::number>& field) {
    if (!field.value) {
        return 0;
    }
    od::number number = *field.value;
    switch (number.get_number_type()) {
    case od::number_type::signed_integer:
        return number.get_int64();
    case od::number_type::floating_point_number:
        return tokenCount(number.get_double()).value_or(0);
    default:
        return 0; // beyond 64 signed bits
    }
}

// One walk through the line's fields, reading those a record takes: the message's usage, or the
// line's when the message has none, the model likewise, the message's id and the line's time.
std::optional<LineUsage> recordFromLine(od::document& line) {
    od::object fields;
    if (line.get_object().get(fields) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    FirstField<od::object> message;
    UsageFields messageUsage;
    FirstField<std::string_view> messageModel;
    FirstField<std::string_view> id;
    UsageFields lineUsage;
    FirstField<std::string_view> lineModel;
    FirstField<std::string_view> timestamp;
    const bool walked = walkFields(fields, [&](od::raw_json_string key, od::value value) {
        if (key.unsafe_is_equal("message") && !message.seen) {
            return message.take(value) &&
                   (!message.value ||
                    walkFields(*message.value, [&](od::raw_json_string inner, od::value field) {
                        if (inner.unsafe_is_equal("usage")) {
                            return messageUsage.walk(field);
                        }
                        if (inner.unsafe_is_equal("model")) {
                            return messageModel.take(field);
                        }
                        return !inner.unsafe_is_equal("id") || id.take(field);
                    }));
        }
        if (key.unsafe_is_equal("usage")) {
            return lineUsage.walk(value);
        }
        if (key.unsafe_is_equal("model")) {
            return lineModel.take(value);
        }
        return !key.unsafe_is_equal("timestamp") || timestamp.take(value);
    });
    const UsageFields& usage = messageUsage.found ? messageUsage : lineUsage;
    if (!walked || !usage.found) {
        return std::nullopt;
    }
    UsageRecord record;
    record.inputTokens = countOf(usage.input);
    record.outputTokens = countOf(usage.output);
    record.cacheCreationInputTokens = countOf(usage.cacheWrite);
    record.cacheReadInputTokens = countOf(usage.cacheRead);
    const auto counted = countedTokens(record);
    if (!counted || *counted == 0) {
        return std::nullopt;
    }
    record.cacheCreation1hTokens = countOf(usage.oneHourWrite);
    record.model = messageModel.value.value_or(lineModel.value.value_or("unknown"));
    record.priceClass =
        ModelPricing::priceClassOf(record, requestedPriceClass(usage.speed.value, usage.tier.value));
    record.messageId = id.value.value_or("");
    return LineUsage{std::move(record), timestamp.value.value_or("")};
}

std::string projectOf(std::string_view relativePath) {
    const std::size_t slash = relativePath.find('/');
    std::string project = utf8::toValid(relativePath.substr(0, slash));
    return project.empty() ? "unknown" : project;
}

} // namespace

const LineRecordReader lineReader{LineRecordReader::Walked(recordFromLine), "usage\""};

std::vector<UsageRecord> parseFile(const std::filesystem::path& file,
                                   const std::filesystem::path& projectsRoot) {
    const std::string path = file.string();
    std::string root = projectsRoot.string();
    while (root.size() > 1 && root.ends_with('/')) {
        root.pop_back();
    }
    std::string_view relative = path;
    if (relative.starts_with(root + "/")) {
        relative.remove_prefix(root.size() + 1);
    }
    while (relative.starts_with('/')) {
        relative.remove_prefix(1);
    }
    const LogFile log{path, 0.0, 0, projectOf(relative), sessionIdOf(path)};
    LineParsers parsers;
    return readJsonlRecords(log, parsers, lineReader);
}

ParseResult parseChanged(std::span<const std::filesystem::path> projectsRoots, const LogFileStates& known,
                         bool wholeFiles, ScanProgress* progress, const RecordSink& sink) {
    std::vector<LogFile> files;
    std::vector<std::string> unlisted;
    for (const std::filesystem::path& root : distinctFolders(projectsRoots)) {
        const bool walked = walkJsonlFiles(root, [&](const FoundLogFile& found) {
            files.push_back({found.path, found.mtime, found.size, projectOf(found.relativePath),
                             sessionIdOf(found.path)});
        });
        if (!walked) {
            unlisted.push_back(root.string() + "/");
        }
    }
    // A root that cannot be listed says nothing about its logs: none is taken as gone.
    LogFileStates listedStates;
    for (const auto& [path, state] : known) {
        if (std::none_of(unlisted.begin(), unlisted.end(),
                         [&](const std::string& root) { return path.starts_with(root); })) {
            listedStates.emplace(path, state);
        }
    }
    return scanIncrementally(files, listedStates, lineReader, wholeFiles, progress, sink);
}

ParseResult parseChanged(const std::filesystem::path& projectsRoot, const LogFileStates& known,
                         bool wholeFiles, ScanProgress* progress) {
    return parseChanged(std::span(&projectsRoot, 1), known, wholeFiles, progress);
}

} // namespace fernhollow::CCUsageParser
