#include "CodexTreeGenerator.h"
#include "SyntheticLogs.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace fernhollow::bench {
namespace {

constexpr std::int64_t yearStart = 1767225600LL * 1000; // 2026-01-01T00:00:00Z
constexpr std::int64_t yearSpan = 333LL * 86'400'000;   // to the end of November

// input, cached input, output, reasoning output: a session's running totals.
using Totals = std::array<std::int64_t, 4>;

class RolloutWriter {
public:
    RolloutWriter(const std::filesystem::path& home, Random& random, std::uint64_t budget, TreeStats& stats)
        : random_(random), budget_(budget), stats_(stats), clock_(yearStart + random.between(0, yearSpan)) {
        model_ = random.chance(0.8) ? "gpt-5-codex" : "gpt-5";
        cwd_ = "/home/dev/src/project-" + std::to_string(random.below(24));
        const Uuid36 id = randomUuid(random);
        session_ = std::string(id.view());
        std::string day;
        appendTimestamp(day, clock_);
        const std::filesystem::path folder =
            home / "sessions" / day.substr(0, 4) / day.substr(5, 2) / day.substr(8, 2);
        std::filesystem::create_directories(folder);
        std::string stamp = day.substr(0, 19);
        std::replace(stamp.begin(), stamp.end(), ':', '-');
        path_ = folder / ("rollout-" + stamp + "-" + session_ + ".jsonl");
    }

    void run() {
        LogWriter writer(path_);
        begin("session_meta");
        line_ += R"({"id":")" + session_ + R"(","timestamp":")";
        appendTimestamp(line_, clock_);
        line_ += R"(","cwd":")" + cwd_ +
                 R"(","originator":"codex_cli_rs","cli_version":"0.98.0","instructions":")";
        line_ += slice(random_, static_cast<std::size_t>(random_.between(4000, 12000)));
        line_ += "\"}}\n";
        emit(writer);
        tokenCount(writer, false); // the first event of a session often has no totals
        while (writer.bytes() < budget_) {
            turn(writer);
        }
        writer.close();
        stats_.files += 1;
        stats_.lines += writer.lines();
        stats_.bytes += writer.bytes();
    }

private:
    void begin(std::string_view type) {
        line_ = R"({"timestamp":")";
        appendTimestamp(line_, clock_);
        line_ += R"(","type":")";
        line_ += type;
        line_ += R"(","payload":)";
    }

    void emit(LogWriter& writer) { writer.write(line_, 1); }

    void text(LogWriter& writer, std::string_view kind, std::string_view role, std::size_t length) {
        begin("response_item");
        line_ += R"({"type":"message","role":")";
        line_ += role;
        line_ += R"(","content":[{"type":")";
        line_ += kind;
        line_ += R"(","text":")";
        line_ += slice(random_, length);
        line_ += "\"}]}}\n";
        emit(writer);
    }

    void turn(LogWriter& writer) {
        clock_ += random_.between(20'000, 600'000);
        begin("turn_context");
        line_ += R"({"cwd":")" + cwd_ +
                 R"(","approval_policy":"on-request","sandbox_policy":{"mode":"workspace-write"},"model":")" +
                 model_ + R"(","effort":"medium","summary":"auto"}})" + "\n";
        emit(writer);
        text(writer, "input_text", "user", static_cast<std::size_t>(random_.skewed(80, 2000, 2)));
        for (std::int64_t call = random_.between(0, 5); call > 0; --call) {
            clock_ += random_.between(500, 20'000);
            std::string callId = "call_";
            appendBase62(callId, random_.next(), 11);
            begin("response_item");
            line_ += R"({"type":"reasoning","summary":[],"content":null,"encrypted_content":"gAAAAA)";
            for (std::int64_t chunk = random_.between(20, 120); chunk > 0; --chunk) {
                appendBase62(line_, random_.next(), 11);
            }
            line_ += "\"}}\n";
            emit(writer);
            begin("response_item");
            line_ +=
                R"({"type":"function_call","name":"shell","arguments":"{\"command\":[\"bash\",\"-lc\",\")";
            line_ += slice(random_, static_cast<std::size_t>(random_.between(20, 200)));
            line_ += R"(\"]}","call_id":")" + callId + "\"}}\n";
            emit(writer);
            begin("response_item");
            line_ += R"({"type":"function_call_output","call_id":")" + callId + R"(","output":")";
            line_ += slice(random_, static_cast<std::size_t>(random_.skewed(100, 16'000, 3)));
            line_ += "\"}}\n";
            emit(writer);
        }
        text(writer, "output_text", "assistant", static_cast<std::size_t>(random_.skewed(60, 1500, 2)));
        count();
        tokenCount(writer, true);
        if (random_.chance(0.5)) {
            tokenCount(writer, true); // the same total written again
        }
    }

    // A turn: the prompt is the context so far, mostly read from the cache.
    void count() {
        context_ = std::min<std::int64_t>(context_ + random_.between(1500, 20'000), 240'000);
        const std::int64_t cached = context_ * random_.between(60, 95) / 100;
        const std::int64_t output = random_.skewed(40, 4000, 2);
        last_ = {context_, cached, output, output * random_.between(0, 80) / 100};
        for (std::size_t i = 0; i < totals_.size(); ++i) {
            totals_[i] += last_[i];
        }
        stats_.distinctMessages += 1;
        stats_.tokens.input += context_ - cached;
        stats_.tokens.cacheRead += cached;
        stats_.tokens.output += output;
    }

    void appendUsage(const Totals& totals) {
        static constexpr std::array<std::string_view, 4> names = {
            R"({"input_tokens":)", R"(,"cached_input_tokens":)", R"(,"output_tokens":)",
            R"(,"reasoning_output_tokens":)"};
        for (std::size_t i = 0; i < totals.size(); ++i) {
            line_ += names[i];
            appendInteger(line_, totals[i]);
        }
        line_ += R"(,"total_tokens":)";
        appendInteger(line_, totals[0] + totals[2]);
        line_ += '}';
    }

    void tokenCount(LogWriter& writer, bool withInfo) {
        begin("event_msg");
        line_ += R"({"type":"token_count","info":)";
        if (withInfo) {
            line_ += R"({"total_token_usage":)";
            appendUsage(totals_);
            line_ += R"(,"last_token_usage":)";
            appendUsage(last_);
            line_ += R"(,"model_context_window":272000})";
        } else {
            line_ += "null";
        }
        line_ += R"(,"rate_limits":{"primary":{"used_percent":)";
        appendInteger(line_, random_.between(0, 100));
        line_ += R"(,"window_minutes":300,"resets_at":)";
        appendInteger(line_, clock_ / 1000 + 18'000);
        line_ += R"(},"secondary":{"used_percent":)";
        appendInteger(line_, random_.between(0, 100));
        line_ += R"(,"window_minutes":10080,"resets_at":)";
        appendInteger(line_, clock_ / 1000 + 604'800);
        line_ += R"(},"plan_type":"plus"}}})";
        line_ += '\n';
        emit(writer);
        stats_.usageLines += withInfo ? 1 : 0;
    }

    Random& random_;
    std::uint64_t budget_;
    TreeStats& stats_;
    std::int64_t clock_;
    std::string model_;
    std::string cwd_;
    std::string session_;
    std::filesystem::path path_;
    std::string line_;
    std::int64_t context_ = 0;
    Totals totals_{};
    Totals last_{};
};

} // namespace

TreeStats generateCodexHome(const std::filesystem::path& home, const CodexShape& shape) {
    if (std::filesystem::exists(home) && !std::filesystem::is_empty(home)) {
        throw std::runtime_error("refusing to generate into non-empty " + home.string());
    }
    Random random(mix(shape.seed ^ 0xC0DE5ULL));
    std::vector<std::int64_t> weights;
    std::int64_t totalWeight = 0;
    for (int i = 0; i < shape.sessions; ++i) {
        weights.push_back(random.skewed(200, 6000, 2));
        totalWeight += weights.back();
    }
    TreeStats stats;
    for (const std::int64_t weight : weights) {
        const auto budget =
            static_cast<std::uint64_t>(static_cast<double>(shape.totalBytes) * static_cast<double>(weight) /
                                       static_cast<double>(totalWeight));
        RolloutWriter(home, random, budget, stats).run();
    }
    return stats;
}

} // namespace fernhollow::bench
