#include "core/sources/OpenClawParser.h"

#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonLines.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"
#include "core/sources/OpenClawDatabase.h"

#include <algorithm>

namespace fernhollow::OpenClawParser {
namespace {

using simdjson::dom::object;

// OpenClaw writes either its own count names or the provider's; the first present and
// integral one counts.
std::int64_t count(object usage, std::string_view first, std::string_view second) {
    if (const auto value = tokenCount(usage[first])) {
        return *value;
    }
    return tokenCount(usage[second]).value_or(0);
}

// The provider is kept in front of the model, as routers write it ("ollama/llama3:latest",
// "amazon-bedrock/us.anthropic.claude-opus-4-6-v1"): it tells a local model or a priced
// route from the vendor's own API.
std::string modelWithProvider(object message, object line) {
    const std::string_view model =
        stringAt(message["model"]).value_or(stringAt(line["modelId"]).value_or("unknown"));
    const std::string_view provider = stringAt(message["provider"]).value_or(std::string_view());
    if (provider.empty() || (model.starts_with(provider) && model.substr(provider.size()).starts_with('/'))) {
        return std::string(model);
    }
    return std::string(provider) + "/" + std::string(model);
}

std::optional<LineUsage> recordFromLine(object line) {
    object message;
    const bool hasMessage = line["message"].get_object().get(message) == simdjson::SUCCESS;
    auto role = hasMessage ? stringAt(message["role"]) : std::nullopt;
    if (!role) {
        role = stringAt(line["type"]);
    }
    object usage;
    if (role != "assistant" || !hasMessage || message["usage"].get_object().get(usage) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    UsageRecord record;
    record.inputTokens = count(usage, "input", "input_tokens");
    record.outputTokens = count(usage, "output", "output_tokens");
    record.cacheCreationInputTokens = count(usage, "cacheWrite", "cache_creation_input_tokens");
    record.cacheReadInputTokens = count(usage, "cacheRead", "cache_read_input_tokens");
    const auto counted = countedTokens(record);
    if (!counted || *counted == 0) {
        return std::nullopt;
    }
    record.cacheCreation1hTokens =
        tokenCount(usage["cache_creation"]["ephemeral_1h_input_tokens"]).value_or(0);
    record.model = modelWithProvider(message, line);
    record.priceClass = ModelPricing::priceClassOf(record, requestedPriceClass(usage));
    const std::string_view timestamp =
        stringAt(line["timestamp"]).value_or(stringAt(message["timestamp"]).value_or(std::string_view()));
    if (const auto id = stringAt(message["id"])) {
        record.messageId = *id;
    } else if (const auto responseId = stringAt(line["responseId"])) {
        record.messageId = *responseId;
    } else if (const auto eventId = stringAt(line["id"])) {
        // Most providers' messages carry no id, yet checkpoint files repeat a session's
        // lines verbatim. The event id is unique within a session; with the event's time it
        // tells a repeated line from a new one. The prefix keeps it apart from real ids.
        record.messageId = "event:" + std::string(*eventId) + "@" + std::string(timestamp);
    }
    return LineUsage{std::move(record), timestamp};
}

const LineRecordReader lineReader{recordFromLine, "usage\""};

constexpr std::string_view databaseName = "openclaw-agent.sqlite";

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

FileKind fileKindOf(std::string_view name) {
    FileKind kind;
    if (name.ends_with(".zst")) {
        kind.compressed = true;
        name.remove_suffix(4);
    }
    // A trajectory repeats its session's usage in another schema.
    if (contains(name, ".trajectory.")) {
        return {};
    }
    if (name == databaseName) {
        kind.type = kind.compressed ? FileType::ignored : FileType::database;
    } else if (name.size() > 6 && name.ends_with(".jsonl")) {
        kind.type = FileType::log;
    } else if (contains(name, ".jsonl.reset.") || contains(name, ".jsonl.deleted.")) {
        kind.type = FileType::archive;
    } else if (contains(name, ".jsonl.bak") || (contains(name, ".pre-doctor-") && name.ends_with(".bak")) ||
               contains(name, ".broken-")) {
        kind.type = FileType::backup;
    }
    return kind;
}

std::string sessionIdOfName(std::string_view name) {
    std::size_t end = name.size();
    for (const std::string_view suffix : {".jsonl", ".checkpoint.", ".pre-doctor-", ".broken-"}) {
        end = std::min(end, name.find(suffix));
    }
    return utf8::toValid(end > 0 ? name.substr(0, end) : name);
}

std::filesystem::path agentsRootOf(const std::filesystem::path& stateFolder) {
    std::error_code error;
    const auto agents = stateFolder / "agents";
    return std::filesystem::is_directory(agents, error) || !std::filesystem::is_directory(stateFolder, error)
               ? agents
               : stateFolder;
}

std::vector<UsageRecord> parseFile(const std::filesystem::path& file, const std::string& agent) {
    const std::string path = file.string();
    const LogFile log{path, 0.0, 0, "openclaw/" + utf8::toValid(agent),
                      sessionIdOfName(file.filename().string())};
    LineParsers parsers;
    return readJsonlRecords(log, parsers, lineReader);
}

ParseResult parseChanged(const std::filesystem::path& agentsRoot, const LogFileStates& known, bool wholeFiles,
                         ScanProgress* progress) {
    // One walk over all agents, not one per agent: a link from one agent's sessions to a
    // folder above them would otherwise reach the other agents' logs a second time.
    std::vector<LogFile> files;
    std::vector<LogFile> databases;
    const bool walked = walkLogFiles(
        agentsRoot, [](std::string_view name) { return fileKindOf(name).type != FileType::ignored; },
        [&](const FoundLogFile& found) {
            const std::size_t slash = found.relativePath.find('/');
            if (slash == std::string_view::npos) {
                return;
            }
            const std::string_view inAgent = found.relativePath.substr(slash + 1);
            const std::string_view name = inAgent.substr(inAgent.rfind('/') + 1);
            const FileKind kind = fileKindOf(name);
            LogFile file{found.path,
                         found.mtime,
                         found.size,
                         "openclaw/" + utf8::toValid(found.relativePath.substr(0, slash)),
                         sessionIdOfName(name),
                         kind.compressed};
            if (kind.type == FileType::database && inAgent == "agent/" + std::string(databaseName)) {
                databases.push_back(std::move(file));
            } else if (kind.type != FileType::database && inAgent.starts_with("sessions/")) {
                files.push_back(std::move(file));
            }
        });
    // A root that cannot be listed says nothing about its logs: none is taken as gone.
    if (!walked) {
        return {};
    }
    // Each database keeps or drops its own states; a database that is gone drops them with
    // the logs that are gone.
    LogFileStates logStates;
    for (const auto& [key, state] : known) {
        if (std::none_of(databases.begin(), databases.end(), [&](const LogFile& database) {
                return isOpenClawDatabaseKey(key, database.path);
            })) {
            logStates.emplace(key, state);
        }
    }
    ScanResult result = scanIncrementally(files, logStates, lineReader, wholeFiles, progress);
    for (const LogFile& database : databases) {
        scanOpenClawDatabase(database.path, database.mtime, database.size, database.projectPath, known,
                             wholeFiles, lineReader, result);
    }
    return result;
}

} // namespace fernhollow::OpenClawParser
