#include "core/sources/GeminiParser.h"

#include "core/model/Clock.h"
#include "core/model/IsoDate.h"
#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonLines.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"

#include <cstdlib>

namespace fernhollow::GeminiParser {
namespace {

using simdjson::dom::object;

class Session {
public:
    explicit Session(const LogFile& file) : session_(file.sessionId), project_(file.projectPath) {}

    // The session's own fields, as a document's top level or a first line holds them.
    void readFields(object fields) {
        if (const auto id = stringAt(fields["sessionId"])) {
            session_ = utf8::toValid(*id);
        }
    }

    void readMessage(object message) {
        object tokens;
        if (stringAt(message["type"]) != "gemini" ||
            message["tokens"].get_object().get(tokens) != simdjson::SUCCESS) {
            return;
        }
        const std::int64_t input = tokenCount(tokens["input"]).value_or(0);
        const std::int64_t cached = std::min(tokenCount(tokens["cached"]).value_or(0), input);
        const std::int64_t tool = tokenCount(tokens["tool"]).value_or(0);
        UsageRecord record;
        // Cached tokens are a part of the input; tool results are prompt input; thoughts are
        // billed as output.
        record.inputTokens = input - cached + tool;
        record.cacheReadInputTokens = cached;
        record.outputTokens =
            tokenCount(tokens["output"]).value_or(0) + tokenCount(tokens["thoughts"]).value_or(0);
        if (countedTokens(record).value_or(0) == 0) {
            return;
        }
        record.model = utf8::toValid(stringAt(message["model"]).value_or("unknown"));
        record.priceClass = ModelPricing::priceClassOf(record, 0);
        if (const auto id = stringAt(message["id"])) {
            record.messageId = "gemini:" + session_.str() + ":" + utf8::toValid(*id);
        }
        record.timestamp = isodate::parseInternetDateTime(stringAt(message["timestamp"]).value_or(""))
                               .value_or(Clock::system().now());
        record.projectPath = project_;
        record.sessionId = session_;
        records_.push_back(std::move(record));
    }

    std::vector<UsageRecord> take() { return std::move(records_); }

private:
    InternedString session_;
    InternedString project_;
    std::vector<UsageRecord> records_;
};

bool isSessionFile(std::string_view name) {
    return name.starts_with("session-") && (name.ends_with(".json") || name.ends_with(".jsonl"));
}

} // namespace

std::optional<std::filesystem::path> defaultRoot() {
    const char* home = std::getenv("GEMINI_CLI_HOME");
    if (home == nullptr || *home == '\0') {
        home = std::getenv("HOME");
    }
    if (home == nullptr || *home == '\0') {
        return std::nullopt;
    }
    const auto root = std::filesystem::path(home) / ".gemini" / "tmp";
    std::error_code error;
    return std::filesystem::exists(root, error) ? std::optional(root) : std::nullopt;
}

std::vector<UsageRecord> readSession(std::string_view text, const LogFile& file,
                                     simdjson::dom::parser& parser) {
    Session session(file);
    if (file.path.ends_with(".json")) {
        object document;
        simdjson::dom::array messages;
        if (parser.parse(text.data(), text.size(), false).get_object().get(document) == simdjson::SUCCESS) {
            session.readFields(document);
            if (document["messages"].get_array().get(messages) == simdjson::SUCCESS) {
                for (const auto message : messages) {
                    object fields;
                    if (message.get_object().get(fields) == simdjson::SUCCESS) {
                        session.readMessage(fields);
                    }
                }
            }
        }
        return session.take();
    }
    bool first = true;
    forEachJsonLine(text, parser, [&](object line) {
        if (std::exchange(first, false)) {
            session.readFields(line);
        } else if (line["$set"].error() != simdjson::SUCCESS) {
            session.readMessage(line);
        }
    });
    return session.take();
}

ScanResult parseChanged(const std::filesystem::path& root, const LogFileStates& known, bool wholeFiles,
                        ScanProgress* progress) {
    std::vector<LogFile> files;
    const bool walked = walkLogFiles(root, isSessionFile, [&](const FoundLogFile& found) {
        // <project>/chats/<session file>: anything else is not a chat.
        const std::size_t slash = found.relativePath.find('/');
        if (slash == std::string_view::npos || !found.relativePath.substr(slash + 1).starts_with("chats/")) {
            return;
        }
        files.push_back({found.path, found.mtime, found.size,
                         utf8::toValid(found.relativePath.substr(0, slash)), sessionIdOf(found.path)});
    });
    if (!walked) {
        return {};
    }
    // Sessions are rewritten whole as they grow, so they are read whole.
    return scanWholeLogs(files, known, readSession, wholeFiles, progress);
}

} // namespace fernhollow::GeminiParser
