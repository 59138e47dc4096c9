#include "ClaudeTreeGenerator.h"
#include "SyntheticLogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <deque>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace fernhollow::bench {
namespace {

constexpr std::string_view sonnet = "claude-sonnet-4-5-20250929";
constexpr std::string_view haiku = "claude-haiku-4-5-20251001";
constexpr std::string_view opus41 = "claude-opus-4-1-20250805";
constexpr std::string_view opus45 = "claude-opus-4-5-20251101";

constexpr std::int64_t windowEnd = 1763596800LL * 1000; // 2025-11-20T00:00:00Z
constexpr std::int64_t dayMs = 86'400'000;

enum class CachePolicy { oneHour, fiveMinutes, mixed };

// The state of one log file while it is written.
struct Conversation {
    std::string commonFields; // every field of a message line between parentUuid and the kind
    Uuid36 parent;
    bool hasParent = false;
    std::int64_t clock = 0;
    std::int64_t context = 0;      // tokens the next reply reads from the cache
    std::int64_t pendingWrite = 0; // tokens added since the last reply, written to the cache by the next
    bool firstReply = true;
    std::string_view model;
    CachePolicy cache = CachePolicy::oneHour;
};

// A reply's lines, kept so the next session can begin by repeating it.
struct ReplyGroup {
    std::string text;
    std::size_t lines = 0;
    std::int64_t lastTimestamp = 0;
};

struct SessionPlan {
    bool summaryOnly = false;
    std::uint64_t budget = 0;
    std::vector<std::uint64_t> subagentBudgets;
};

enum class Tool { bash, read, edit, grep, task, todo };

struct ToolCall {
    Tool tool = Tool::bash;
    std::string id;
};

class ProjectGenerator {
public:
    ProjectGenerator(const std::filesystem::path& root, const TreeShape& shape, int project,
                     const std::vector<SessionPlan>& sessions)
        : random_(mix(shape.seed ^ mix(static_cast<std::uint64_t>(project) + 1))), project_(project),
          folder_(root / ("-home-user-src-project" + std::to_string(project))),
          cwd_("/home/user/src/project" + std::to_string(project)), sessions_(sessions) {}

    TreeStats run() {
        std::filesystem::create_directories(folder_);
        const auto count = static_cast<std::int64_t>(sessions_.size());
        const std::int64_t meanGap = 50 * dayMs / std::max<std::int64_t>(count, 1);
        std::int64_t clock = windowEnd - 60 * dayMs + random_.between(0, dayMs);
        for (std::size_t s = 0; s < sessions_.size(); ++s) {
            const std::int64_t start = clock;
            const Uuid36 sessionId = randomUuid(random_);
            if (sessions_[s].summaryOnly) {
                writeSummaryOnlySession(sessionId);
                clock += random_.between(5 * 60'000, meanGap);
                continue;
            }
            const std::string version = versionAt(s);
            const std::string branch = randomBranch();
            const std::string_view model = sessionModel();
            const std::int64_t end =
                writeMainSession(sessionId, version, branch, model, start, sessions_[s].budget);
            for (const std::uint64_t budget : sessions_[s].subagentBudgets) {
                writeSubagent(sessionId, version, branch, model, random_.between(start, end), budget);
            }
            clock = end + random_.between(5 * 60'000, 2 * meanGap);
        }
        return stats_;
    }

private:
    std::string versionAt(std::size_t session) const {
        static constexpr std::string_view versions[] = {"2.0.28", "2.0.31", "2.0.36", "2.0.42"};
        return std::string(versions[session * std::size(versions) / sessions_.size()]);
    }

    std::string randomBranch() {
        static constexpr std::string_view branches[] = {
            "main", "main", "main", "develop", "feature/streaming-reader", "fix/cache-accounting"};
        return std::string(branches[random_.below(std::size(branches))]);
    }

    std::string_view sessionModel() {
        const std::uint64_t roll = random_.below(100);
        return roll < 68 ? sonnet : roll < 80 ? opus45 : roll < 90 ? opus41 : haiku;
    }

    Conversation startConversation(const Uuid36& sessionId, std::string_view version, std::string_view branch,
                                   std::string_view model, std::int64_t start,
                                   std::string_view agentId = {}) {
        Conversation conversation;
        std::string& common = conversation.commonFields;
        common += agentId.empty() ? R"(,"isSidechain":false)" : R"(,"isSidechain":true)";
        common += R"(,"userType":"external","cwd":")";
        common += cwd_;
        common += R"(","sessionId":")";
        common += sessionId.view();
        common += R"(","version":")";
        common += version;
        common += R"(","gitBranch":")";
        common += branch;
        common += '"';
        if (!agentId.empty()) {
            common += R"(,"agentId":")";
            common += agentId;
            common += '"';
        }
        conversation.clock = start;
        conversation.model = model;
        const std::uint64_t roll = random_.below(10);
        conversation.cache = roll < 7   ? CachePolicy::oneHour
                             : roll < 9 ? CachePolicy::fiveMinutes
                                        : CachePolicy::mixed;
        return conversation;
    }

    std::int64_t writeMainSession(const Uuid36& sessionId, std::string_view version, std::string_view branch,
                                  std::string_view model, std::int64_t start, std::uint64_t budget) {
        std::deque<ReplyGroup> previous = std::move(recentReplies_);
        recentReplies_.clear();
        LogWriter writer(folder_ / (std::string(sessionId.view()) + ".jsonl"));
        Conversation conversation = startConversation(sessionId, version, branch, model, start);

        if (random_.chance(0.25)) {
            for (std::int64_t i = random_.between(1, 3); i > 0; --i) {
                writeSummary(writer);
            }
        }
        if (!previous.empty() && random_.chance(0.15)) {
            const auto run = static_cast<std::size_t>(
                random_.between(1, static_cast<std::int64_t>(std::min<std::size_t>(previous.size(), 40))));
            for (auto group = previous.end() - static_cast<std::ptrdiff_t>(run); group != previous.end();
                 ++group) {
                writer.write(group->text, group->lines);
                stats_.usageLines += group->lines;
                conversation.clock = std::max(conversation.clock, group->lastTimestamp + 60'000);
            }
        }
        writeConversation(writer, conversation, budget, true);
        finish(writer);
        return conversation.clock;
    }

    void writeSummaryOnlySession(const Uuid36& sessionId) {
        LogWriter writer(folder_ / (std::string(sessionId.view()) + ".jsonl"));
        for (std::int64_t i = random_.between(1, 5); i > 0; --i) {
            writeSummary(writer);
        }
        finish(writer);
    }

    void writeSubagent(const Uuid36& sessionId, std::string_view version, std::string_view branch,
                       std::string_view parentModel, std::int64_t start, std::uint64_t budget) {
        // Odd multipliers and right xor-shifts are bijections on 32 bits, so agent names look
        // random yet never collide.
        std::uint32_t name = ++agentCounter_ * 0x9E3779B1u;
        name ^= name >> 16;
        name *= 0x85EBCA6Bu;
        name ^= name >> 13;
        std::string agentId;
        appendHex(agentId, name, 8);
        const std::filesystem::path folder = folder_ / std::string(sessionId.view()) / "subagents";
        std::filesystem::create_directories(folder);
        LogWriter writer(folder / ("agent-" + agentId + ".jsonl"));
        const std::string_view model = random_.chance(0.5) ? haiku : parentModel;
        Conversation conversation = startConversation(sessionId, version, branch, model, start, agentId);
        writeConversation(writer, conversation, budget, false);
        finish(writer);
    }

    void finish(LogWriter& writer) {
        writer.close();
        ++stats_.files;
        stats_.lines += writer.lines();
        stats_.bytes += writer.bytes();
    }

    void writeConversation(LogWriter& writer, Conversation& conversation, std::uint64_t budget,
                           bool rememberReplies) {
        do {
            writePrompt(writer, conversation, rememberReplies);
            // Every prompt gets at least one reply, so every conversation holds a message of its own.
            for (std::int64_t round = random_.between(1, 10); round > 0; --round) {
                if (random_.chance(0.003)) {
                    writeApiError(writer, conversation);
                }
                const std::optional<ToolCall> call = writeReply(writer, conversation, rememberReplies);
                if (!call) {
                    break;
                }
                writeToolResult(writer, conversation, *call);
                if (writer.bytes() >= budget) {
                    break;
                }
            }
        } while (writer.bytes() < budget);
    }

    void beginLine(const Conversation& conversation) {
        line_ += R"({"parentUuid":)";
        if (conversation.hasParent) {
            line_ += '"';
            line_ += conversation.parent.view();
            line_ += '"';
        } else {
            line_ += "null";
        }
        line_ += conversation.commonFields;
    }

    void appendIdentity(Conversation& conversation) {
        conversation.parent = randomUuid(random_);
        conversation.hasParent = true;
        line_ += R"(,"uuid":")";
        line_ += conversation.parent.view();
        line_ += R"(","timestamp":")";
        appendTimestamp(line_, conversation.clock);
        line_ += '"';
    }

    void emit(LogWriter& writer) {
        writer.write(line_, 1);
        line_.clear();
    }

    void writeSummary(LogWriter& writer) {
        line_ += R"({"type":"summary","summary":")";
        line_ += slice(random_, static_cast<std::size_t>(random_.between(20, 70)));
        line_ += R"(","leafUuid":")";
        line_ += randomUuid(random_).view();
        line_ += "\"}\n";
        emit(writer);
    }

    void writePrompt(LogWriter& writer, Conversation& conversation, bool mainSession) {
        conversation.clock += random_.between(15'000, 20 * 60'000);
        if (mainSession && random_.chance(0.6)) {
            const Uuid36 snapshot = randomUuid(random_);
            line_ += R"({"type":"file-history-snapshot","messageId":")";
            line_ += snapshot.view();
            line_ += R"(","snapshot":{"messageId":")";
            line_ += snapshot.view();
            line_ += R"(","trackedFileBackups":{},"timestamp":")";
            appendTimestamp(line_, conversation.clock);
            line_ += R"("},"isSnapshotUpdate":false})";
            line_ += '\n';
            emit(writer);
            conversation.clock += random_.between(1, 50);
        }
        const std::string_view text = slice(random_, static_cast<std::size_t>(random_.skewed(60, 1800, 2)));
        beginLine(conversation);
        line_ += R"(,"type":"user","message":{"role":"user","content":")";
        line_ += text;
        line_ += "\"}";
        appendIdentity(conversation);
        line_ += "}\n";
        emit(writer);
        conversation.pendingWrite += static_cast<std::int64_t>(text.size() / 4);
    }

    void appendUsage(std::string& out, std::int64_t input, std::int64_t cacheWrite, std::int64_t cacheRead,
                     std::int64_t oneHour, std::int64_t output) {
        out += R"("usage":{"input_tokens":)";
        appendInteger(out, input);
        out += R"(,"cache_creation_input_tokens":)";
        appendInteger(out, cacheWrite);
        out += R"(,"cache_read_input_tokens":)";
        appendInteger(out, cacheRead);
        out += R"(,"cache_creation":{"ephemeral_5m_input_tokens":)";
        appendInteger(out, cacheWrite - oneHour);
        out += R"(,"ephemeral_1h_input_tokens":)";
        appendInteger(out, oneHour);
        out += R"(},"output_tokens":)";
        appendInteger(out, output);
        out += R"(,"service_tier":"standard"})";
    }

    std::string newToolId() {
        std::string id = "toolu_01";
        appendBase62(id, random_.next(), 11);
        appendBase62(id, random_.next(), 11);
        return id;
    }

    void appendToolUse(std::string& out, const ToolCall& call) {
        static constexpr std::string_view names[] = {"Bash", "Read", "Edit", "Grep", "Task", "TodoWrite"};
        out += R"({"type":"tool_use","id":")";
        out += call.id;
        out += R"(","name":")";
        out += names[static_cast<std::size_t>(call.tool)];
        out += R"(","input":{)";
        const auto text = [&](std::int64_t low, std::int64_t high) {
            return slice(random_, static_cast<std::size_t>(random_.skewed(low, high, 2)));
        };
        switch (call.tool) {
        case Tool::bash:
            out += R"("command":")";
            out += text(10, 300);
            out += R"(","description":")";
            out += text(10, 60);
            out += '"';
            break;
        case Tool::read:
            out += R"("file_path":")";
            out += cwd_;
            out += R"(/src/sources/JsonlRecordReader.cpp")";
            break;
        case Tool::edit:
            out += R"("file_path":")";
            out += cwd_;
            out += R"(/src/model/UsageRecord.cpp","old_string":")";
            out += text(40, 1500);
            out += R"(","new_string":")";
            out += text(40, 1800);
            out += '"';
            break;
        case Tool::grep:
            out += R"("pattern":"message\\.id","path":")";
            out += cwd_;
            out += R"(","output_mode":"content")";
            break;
        case Tool::task:
            out += R"("description":")";
            out += text(10, 60);
            out += R"(","prompt":")";
            out += text(200, 2000);
            out += R"(","subagent_type":"general-purpose")";
            break;
        case Tool::todo:
            out += R"("todos":[{"content":")";
            out += text(20, 120);
            out += R"(","status":"in_progress","activeForm":")";
            out += text(20, 120);
            out += R"("}])";
            break;
        }
        out += "}}";
    }

    // One reply, as the agent writes it: one line per content block, all sharing the id and
    // the input and cache counts, the output count growing to its final value on the last.
    std::optional<ToolCall> writeReply(LogWriter& writer, Conversation& conversation, bool remember) {
        enum class Block { thinking, text, toolUse };
        std::vector<Block> blocks;
        if (random_.chance(0.55)) {
            blocks.push_back(Block::thinking);
        }
        if (random_.chance(0.7)) {
            blocks.push_back(Block::text);
        }
        const std::int64_t tools = random_.chance(0.75) ? random_.between(1, 2) : 0;
        blocks.insert(blocks.end(), static_cast<std::size_t>(tools), Block::toolUse);
        if (blocks.empty()) {
            blocks.push_back(Block::text);
        }

        conversation.clock += random_.between(800, 6000);
        const std::string_view model = random_.chance(0.08) ? haiku : conversation.model;
        const std::int64_t input = random_.chance(0.04) ? random_.between(100, 6000) : random_.between(1, 12);
        std::int64_t cacheWrite = 0;
        std::int64_t cacheRead = conversation.context;
        if (conversation.firstReply) {
            cacheWrite = random_.between(6000, 24000);
            cacheRead = random_.chance(0.5) ? random_.between(10000, 16000) : 0;
            conversation.firstReply = false;
        } else {
            cacheWrite = std::max(random_.between(50, 400), conversation.pendingWrite);
        }
        const std::int64_t oneHour = conversation.cache == CachePolicy::oneHour ? cacheWrite
                                     : conversation.cache == CachePolicy::fiveMinutes
                                         ? 0
                                         : random_.between(0, cacheWrite);
        const std::int64_t finalOutput =
            random_.chance(0.02) ? random_.between(4000, 32000) : random_.skewed(8, 4000, 2);

        std::string messageId = "msg_01";
        appendBase62(messageId, mix(mix(static_cast<std::uint64_t>(project_) << 40 | ++messageCounter_)), 11);
        appendBase62(messageId, random_.next(), 11);
        std::string requestId = "req_011C";
        appendBase62(requestId, random_.next(), 11);
        appendBase62(requestId, random_.next(), 11);

        std::optional<ToolCall> lastCall;
        std::int64_t output = 0;
        std::string group;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const bool last = i + 1 == blocks.size();
            output = last ? finalOutput
                          : std::min(finalOutput,
                                     i == 0 ? random_.between(1, 30) : random_.between(output, finalOutput));
            if (i > 0) {
                conversation.clock += random_.between(200, 2500);
            }
            beginLine(conversation);
            line_ += R"(,"message":{"model":")";
            line_ += model;
            line_ += R"(","id":")";
            line_ += messageId;
            line_ += R"(","type":"message","role":"assistant","content":[)";
            switch (blocks[i]) {
            case Block::thinking:
                line_ += R"({"type":"thinking","thinking":")";
                line_ += slice(random_, static_cast<std::size_t>(random_.skewed(200, 4000, 2)));
                line_ += R"(","signature":")";
                for (std::int64_t k = random_.between(20, 40); k > 0; --k) {
                    appendBase62(line_, random_.next(), 11);
                }
                line_ += "\"}";
                break;
            case Block::text:
                line_ += R"({"type":"text","text":")";
                line_ += slice(random_, static_cast<std::size_t>(random_.skewed(60, 2500, 2)));
                line_ += "\"}";
                break;
            case Block::toolUse: {
                const std::uint64_t roll = random_.below(100);
                ToolCall call{roll < 35   ? Tool::bash
                              : roll < 60 ? Tool::read
                              : roll < 80 ? Tool::edit
                              : roll < 90 ? Tool::grep
                              : roll < 95 ? Tool::task
                                          : Tool::todo,
                              newToolId()};
                appendToolUse(line_, call);
                lastCall = std::move(call);
                break;
            }
            }
            line_ += R"(],"stop_reason":null,"stop_sequence":null,)";
            appendUsage(line_, input, cacheWrite, cacheRead, oneHour, output);
            line_ += R"(},"requestId":")";
            line_ += requestId;
            line_ += R"(","type":"assistant")";
            appendIdentity(conversation);
            line_ += "}\n";
            group += line_;
            line_.clear();
        }
        writer.write(group, blocks.size());
        stats_.usageLines += blocks.size();
        ++stats_.distinctMessages;
        stats_.tokens.input += input;
        stats_.tokens.output += finalOutput;
        stats_.tokens.cacheCreation += cacheWrite;
        stats_.tokens.cacheCreation1h += oneHour;
        stats_.tokens.cacheRead += cacheRead;
        if (remember) {
            recentReplies_.push_back({std::move(group), blocks.size(), conversation.clock});
            if (recentReplies_.size() > 40) {
                recentReplies_.pop_front();
            }
        }

        conversation.context += cacheWrite;
        conversation.pendingWrite = finalOutput;
        if (conversation.context > 155'000) {
            writeCompaction(writer, conversation);
        }
        if (blocks.back() != Block::toolUse) {
            return std::nullopt;
        }
        return lastCall;
    }

    // The agent logs a failed request as a reply whose counts are all zero; a scan must not
    // count it, so it stays out of the expected records.
    void writeApiError(LogWriter& writer, Conversation& conversation) {
        conversation.clock += random_.between(1000, 30'000);
        beginLine(conversation);
        line_ += R"(,"type":"assistant","message":{"id":")";
        line_ += randomUuid(random_).view();
        line_ +=
            R"(","container":null,"model":"<synthetic>","role":"assistant","stop_reason":"stop_sequence",)"
            R"("stop_sequence":"","type":"message","usage":{"input_tokens":0,"output_tokens":0,)"
            R"("cache_creation_input_tokens":0,"cache_read_input_tokens":0,)"
            R"("server_tool_use":{"web_search_requests":0},"service_tier":null,)"
            R"("cache_creation":{"ephemeral_1h_input_tokens":0,"ephemeral_5m_input_tokens":0}},)"
            R"("content":[{"type":"text","text":"API Error: 529 {\"type\":\"error\",\"error\":)"
            R"({\"type\":\"overloaded_error\",\"message\":\"Overloaded\"}}"}]})";
        appendIdentity(conversation);
        line_ += R"(,"isApiErrorMessage":true})";
        line_ += '\n';
        emit(writer);
        ++stats_.usageLines;
    }

    void writeCompaction(LogWriter& writer, Conversation& conversation) {
        conversation.clock += random_.between(5000, 60'000);
        beginLine(conversation);
        line_ += R"(,"type":"system","subtype":"compact_boundary","content":"Conversation compacted",)"
                 R"("isMeta":false)";
        appendIdentity(conversation);
        line_ += R"(,"level":"info","compactMetadata":{"trigger":"auto","preTokens":)";
        appendInteger(line_, conversation.context);
        line_ += "}}\n";
        emit(writer);
        conversation.context = random_.between(14'000, 30'000);
        conversation.pendingWrite = random_.between(2000, 8000);
    }

    void writeToolResult(LogWriter& writer, Conversation& conversation, const ToolCall& call) {
        if (random_.chance(0.25)) {
            conversation.clock += random_.between(50, 3000);
            beginLine(conversation);
            line_ += R"(,"type":"progress","data":{"type":"hook_progress","hookEvent":"PostToolUse",)"
                     R"("hookName":"PostToolUse:Edit","command":"npx prettier --write"},"parentToolUseID":")";
            line_ += call.id;
            line_ += R"(","toolUseID":")";
            line_ += call.id;
            line_ += '"';
            appendIdentity(conversation);
            line_ += "}\n";
            emit(writer);
        }

        conversation.clock += random_.between(100, 30'000);
        const std::size_t length = static_cast<std::size_t>(
            random_.chance(0.07) ? random_.skewed(8000, 200'000, 2) : random_.between(400, 6000));
        const std::string_view content = slice(random_, length);
        beginLine(conversation);
        line_ += R"(,"type":"user","message":{"role":"user","content":[{"tool_use_id":")";
        line_ += call.id;
        line_ += R"(","type":"tool_result","content":")";
        line_ += content;
        line_ += R"(","is_error":false}]})";
        appendIdentity(conversation);
        if (call.tool == Tool::bash) {
            line_ += R"(,"toolUseResult":{"stdout":")";
            line_ += slice(random_, static_cast<std::size_t>(random_.between(20, 200)));
            line_ += R"(","stderr":"","interrupted":false,"isImage":false})";
        } else if (call.tool == Tool::task) {
            // A sub-agent's own usage, nested where a scan must not take it for a reply's.
            line_ += R"(,"toolUseResult":{"status":"completed","totalDurationMs":)";
            appendInteger(line_, random_.between(5000, 600'000));
            line_ += R"(,"totalTokens":)";
            appendInteger(line_, random_.between(10'000, 200'000));
            line_ += R"(,"totalToolUseCount":)";
            appendInteger(line_, random_.between(1, 40));
            line_ += ',';
            const std::int64_t write = random_.between(100, 20'000);
            appendUsage(line_, random_.between(1, 12), write, random_.between(0, 150'000), write,
                        random_.between(10, 4000));
            line_ += '}';
        }
        line_ += "}\n";
        emit(writer);
        conversation.pendingWrite += static_cast<std::int64_t>(content.size() / 4);

        if (random_.chance(0.03)) {
            conversation.clock += random_.between(10, 500);
            beginLine(conversation);
            line_ += R"(,"type":"system","content":")";
            line_ += slice(random_, static_cast<std::size_t>(random_.between(20, 200)));
            line_ += R"(","isMeta":false)";
            appendIdentity(conversation);
            line_ += R"(,"level":"info","toolUseID":")";
            line_ += call.id;
            line_ += "\"}\n";
            emit(writer);
        }
        conversation.clock += random_.between(1000, 8000);
    }

    Random random_;
    int project_;
    std::filesystem::path folder_;
    std::string cwd_;
    const std::vector<SessionPlan>& sessions_;
    TreeStats stats_;
    std::uint64_t messageCounter_ = 0;
    std::uint32_t agentCounter_ = 0;
    std::deque<ReplyGroup> recentReplies_;
    std::string line_;
};

// Which files exist and how big each is, decided up front so that the byte total can be
// shared out before any project is written.
std::vector<std::vector<SessionPlan>> planTree(const TreeShape& shape) {
    Random random(mix(shape.seed ^ 0x7EE5EEDULL));
    std::vector<std::vector<SessionPlan>> plan(static_cast<std::size_t>(std::max(shape.projects, 0)));
    std::vector<std::uint64_t*> budgets;
    std::vector<std::int64_t> weights;
    std::int64_t totalWeight = 0;
    for (auto& sessions : plan) {
        sessions.resize(static_cast<std::size_t>(std::max(shape.sessionsPerProject, 0)));
        for (SessionPlan& session : sessions) {
            if (random.below(100) < static_cast<std::uint64_t>(std::max(shape.summaryOnlyPercent, 0))) {
                session.summaryOnly = true;
                continue;
            }
            // A few marathon sessions give the long tail of file sizes real logs have.
            weights.push_back(random.chance(0.02) ? random.between(20'000, 40'000)
                                                  : random.skewed(200, 6000, 2));
            budgets.push_back(&session.budget);
            if (random.chance(0.15)) {
                session.subagentBudgets.resize(static_cast<std::size_t>(random.between(1, 3)));
            }
        }
    }
    for (auto& sessions : plan) {
        for (SessionPlan& session : sessions) {
            for (std::uint64_t& budget : session.subagentBudgets) {
                weights.push_back(random.skewed(60, 1500, 2));
                budgets.push_back(&budget);
            }
        }
    }
    for (const std::int64_t weight : weights) {
        totalWeight += weight;
    }
    for (std::size_t i = 0; i < budgets.size(); ++i) {
        *budgets[i] =
            static_cast<std::uint64_t>(static_cast<double>(shape.totalBytes) *
                                       (static_cast<double>(weights[i]) / static_cast<double>(totalWeight)));
    }
    return plan;
}

void add(TreeStats& sum, const TreeStats& part) {
    sum.files += part.files;
    sum.lines += part.lines;
    sum.usageLines += part.usageLines;
    sum.distinctMessages += part.distinctMessages;
    sum.bytes += part.bytes;
    sum.tokens.input += part.tokens.input;
    sum.tokens.output += part.tokens.output;
    sum.tokens.cacheCreation += part.tokens.cacheCreation;
    sum.tokens.cacheCreation1h += part.tokens.cacheCreation1h;
    sum.tokens.cacheRead += part.tokens.cacheRead;
}

template <typename Stats, typename Visit> void visitFields(Stats& stats, Visit visit) {
    visit("files", stats.files);
    visit("lines", stats.lines);
    visit("usage_lines", stats.usageLines);
    visit("distinct_messages", stats.distinctMessages);
    visit("bytes", stats.bytes);
    visit("input_tokens", stats.tokens.input);
    visit("output_tokens", stats.tokens.output);
    visit("cache_creation_tokens", stats.tokens.cacheCreation);
    visit("cache_creation_1h_tokens", stats.tokens.cacheCreation1h);
    visit("cache_read_tokens", stats.tokens.cacheRead);
}

} // namespace

TreeStats generateClaudeTree(const std::filesystem::path& root, const TreeShape& shape) {
    if (std::filesystem::exists(root) && !std::filesystem::is_empty(root)) {
        throw std::runtime_error("refusing to generate into non-empty " + root.string());
    }
    std::filesystem::create_directories(root);
    const auto plan = planTree(shape);

    std::vector<TreeStats> perProject(plan.size());
    std::vector<std::exception_ptr> failures(plan.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t p = next++; p < plan.size(); p = next++) {
            try {
                perProject[p] = ProjectGenerator(root, shape, static_cast<int>(p), plan[p]).run();
            } catch (...) {
                failures[p] = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (unsigned i = 1; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
            helpers.emplace_back(work);
        }
        work();
    }
    TreeStats total;
    for (std::size_t p = 0; p < plan.size(); ++p) {
        if (failures[p]) {
            std::rethrow_exception(failures[p]);
        }
        add(total, perProject[p]);
    }
    return total;
}

std::string formatStats(const TreeStats& stats) {
    std::string text;
    visitFields(stats, [&](std::string_view name, auto value) {
        text += name;
        text += ' ';
        text += std::to_string(value);
        text += '\n';
    });
    return text;
}

std::optional<TreeStats> parseStats(std::string_view text) {
    TreeStats stats;
    bool complete = true;
    visitFields(stats, [&](std::string_view name, auto& field) {
        const std::string key = "\n" + std::string(name) + " ";
        const std::string padded = "\n" + std::string(text);
        const std::size_t at = padded.find(key);
        if (at == std::string::npos) {
            complete = false;
            return;
        }
        const char* first = padded.data() + at + key.size();
        const char* last = padded.data() + padded.size();
        const auto [end, error] = std::from_chars(first, last, field);
        if (error != std::errc{} || (end != last && *end != '\n')) {
            complete = false;
        }
    });
    return complete ? std::optional<TreeStats>(stats) : std::nullopt;
}

} // namespace fernhollow::bench
