#include "core/sources/OpenClawParser.h"

#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonLines.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"

#include <cstdlib>

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

} // namespace

std::optional<std::filesystem::path> defaultAgentsRoot() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        return std::nullopt;
    }
    const auto root = std::filesystem::path(home) / ".openclaw" / "agents";
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(root, error))) {
        return std::nullopt;
    }
    return root;
}

bool isInstalled() {
    return defaultAgentsRoot().has_value();
}

std::vector<UsageRecord> parseFile(const std::filesystem::path& file, const std::string& agent) {
    const std::string path = file.string();
    const LogFile log{path, 0.0, 0, "openclaw/" + utf8::toValid(agent), sessionIdOf(path)};
    simdjson::dom::parser parser;
    return readJsonlRecords(log, parser, recordFromLine);
}

ParseResult parseChanged(const std::filesystem::path& agentsRoot, const LogFileStates& known, bool wholeFiles,
                         ScanProgress* progress) {
    // One walk over all agents, not one per agent: a link from one agent's sessions to a
    // folder above them would otherwise reach the other agents' logs a second time.
    std::vector<LogFile> files;
    const bool walked = walkJsonlFiles(agentsRoot, [&](const FoundLogFile& found) {
        const std::size_t slash = found.relativePath.find('/');
        if (slash == std::string_view::npos ||
            !found.relativePath.substr(slash + 1).starts_with("sessions/")) {
            return;
        }
        files.push_back({found.path, found.mtime, found.size,
                         "openclaw/" + utf8::toValid(found.relativePath.substr(0, slash)),
                         sessionIdOf(found.path)});
    });
    // A root that cannot be listed says nothing about its logs: none is taken as gone.
    if (!walked) {
        return {};
    }
    return scanIncrementally(files, known, recordFromLine, wholeFiles, progress);
}

} // namespace fernhollow::OpenClawParser
