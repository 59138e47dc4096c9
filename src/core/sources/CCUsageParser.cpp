#include "core/sources/CCUsageParser.h"

#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"

#include <algorithm>

namespace fernhollow::CCUsageParser {
namespace {

using simdjson::dom::object;

std::optional<LineUsage> recordFromLine(object line) {
    object message;
    const bool hasMessage = line["message"].get_object().get(message) == simdjson::SUCCESS;
    object usage;
    if (!(hasMessage && message["usage"].get_object().get(usage) == simdjson::SUCCESS) &&
        line["usage"].get_object().get(usage) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    UsageRecord record;
    record.inputTokens = tokenCount(usage["input_tokens"]).value_or(0);
    record.outputTokens = tokenCount(usage["output_tokens"]).value_or(0);
    record.cacheCreationInputTokens = tokenCount(usage["cache_creation_input_tokens"]).value_or(0);
    record.cacheReadInputTokens = tokenCount(usage["cache_read_input_tokens"]).value_or(0);
    const auto counted = countedTokens(record);
    if (!counted || *counted == 0) {
        return std::nullopt;
    }
    record.cacheCreation1hTokens =
        tokenCount(usage["cache_creation"]["ephemeral_1h_input_tokens"]).value_or(0);

    std::string_view text;
    if (hasMessage && message["model"].get_string().get(text) == simdjson::SUCCESS) {
        record.model = text;
    } else if (line["model"].get_string().get(text) == simdjson::SUCCESS) {
        record.model = text;
    } else {
        record.model = "unknown";
    }
    record.priceClass = ModelPricing::priceClassOf(record, requestedPriceClass(usage));
    if (hasMessage && message["id"].get_string().get(text) == simdjson::SUCCESS) {
        record.messageId = text;
    }
    if (line["timestamp"].get_string().get(text) != simdjson::SUCCESS) {
        text = {};
    }
    return LineUsage{std::move(record), text};
}

std::string projectOf(std::string_view relativePath) {
    const std::size_t slash = relativePath.find('/');
    std::string project = utf8::toValid(relativePath.substr(0, slash));
    return project.empty() ? "unknown" : project;
}

} // namespace

const LineRecordReader lineReader{recordFromLine, "usage\""};

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
    simdjson::dom::parser parser;
    return readJsonlRecords(log, parser, lineReader);
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
