#include "core/statusline/ClaudeSettings.h"
#include "core/statusline/StatusLineInput.h"
#include "core/statusline/StatusLineText.h"
#include "support/TempTree.h"
#include "support/WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fernhollow {
namespace {

constexpr double now = 1'760'000'000.0;

// Each row: the input, then the model, session and percents used (five hours, seven days) read.
TEST(StatusLine, ReadsWhatClaudeCodeSaysAndNothingElse) {
    const std::string opus = R"("model":{"id":"claude-opus-4-1","display_name":"Opus 4.1"})";
    const std::string limits =
        R"({"five_hour":{"used_percentage":42.5,"resets_at":1760003600},"seven_day":{"used_percentage":0}})";
    const std::tuple<std::string, std::string, std::string, std::vector<double>> cases[] = {
        {"", "", "", {}},
        {"not json", "", "", {}},
        {R"({"session_id":"s"})", "", "s", {}},
        {R"({"session_id":"s",)" + opus + "}", "Opus 4.1", "s", {}},
        {R"({"model":{"id":"claude-opus-4-1"}})", "claude-opus-4-1", "", {}},
        {R"({"model":"opus","session_id":7})", "", "", {}},
        // A name cannot steer the terminal: C0 and C1 controls are dropped.
        {R"({"model":{"display_name":"\u0085Op\u001b[2Jus\u009b1m"}})", "Op[2Jus1m", "", {}},
        {R"({"rate_limits":)" + limits + "}", "", "", {42.5, 0}},
        {R"({"rate_limits":{"five_hour":{"used_percentage":-1},"seven_day":{"used_percentage":"x"}}})",
         "",
         "",
         {}},
        {R"({"rate_limits":null,"cost":{"total_cost_usd":1.5},"context_window":{}})", "", "", {}},
        {R"({"session_id":"s","model":{"id":"m"})", "", "", {}}, // cut short
        {"{\"session_id\":\"" + std::string(100'000, 'a') + "\"}", "", std::string(100'000, 'a'), {}},
    };
    for (const auto& [json, model, session, used] : cases) {
        const StatusLineInput input = parseStatusLineInput(json, now);
        EXPECT_EQ(input.model, model) << json.substr(0, 80);
        EXPECT_EQ(input.sessionId, session) << json.substr(0, 80);
        std::vector<double> read;
        for (const RateLimit& limit : input.rateLimits) {
            read.push_back(limit.usedPercent);
            EXPECT_EQ(limit.observedAt, now);
        }
        EXPECT_EQ(read, used) << json.substr(0, 80);
    }
    EXPECT_EQ(parseStatusLineInput(R"({"rate_limits":)" + limits + "}", now).rateLimits.at(0).resetsAt,
              1'760'003'600.0);
}

TEST(StatusLine, LeavesOutWhatItDoesNotKnow) {
    StatusLineFigures figures;
    EXPECT_EQ(statusLineText(figures, now, false), "");
    figures.model = "Opus 4.1";
    figures.sessionUSD = 1.234;
    figures.todayUSD = 45.67;
    figures.estimateUSD = 12.0;
    figures.estimateSecondsLeft = 7980.0;
    figures.status = BudgetStatus::ok;
    EXPECT_EQ(statusLineText(figures, now, false), "Opus 4.1 \u00b7 session $1.23 \u00b7 today $45.67 \u00b7 "
                                                   "5h \u2248$12.00, 2h 13m left \u00b7 \u25cf");
    figures.fiveHour = RateLimit{UsageSource::claudeCode, RateWindow::fiveHour, 42.4, now + 600.0, 300, now};
    figures.status = BudgetStatus::over;
    EXPECT_EQ(statusLineText(figures, now, false),
              "Opus 4.1 \u00b7 session $1.23 \u00b7 today $45.67 \u00b7 5h 42% "
              "used, resets in 10m \u00b7 \U0001f525");
    EXPECT_NE(statusLineText(figures, now, true).find("\033[32m42%\033[0m"), std::string::npos);
}

constexpr std::string_view ours = "/usr/bin/fernhollow statusline";
constexpr std::string_view line = R"({"type": "command", "command": "/usr/bin/fernhollow statusline"})";

TEST(StatusLine, SetsItsCommandInClaudeSettingsKeepingEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"{}", "{\n  \"statusLine\": " + std::string(line) + "\n}"},
        {"\xEF\xBB\xBF{ }\n", "\xEF\xBB\xBF{\n  \"statusLine\": " + std::string(line) + "\n}\n"},
        {R"({"a":1})", R"({"a":1, "statusLine": )" + std::string(line) + "}"},
        {"{\r\n\t\"a\": \"}\\\"{\",\r\n\t\"b\": [{\"statusLine\": 1}]\r\n}",
         "{\r\n\t\"a\": \"}\\\"{\",\r\n\t\"b\": [{\"statusLine\": 1}],\n\t\"statusLine\": " +
             std::string(line) + "\r\n}"},
        {"{\n    \"statusL\\u0069ne\": {\"type\": \"command\", \"command\": \"ccline\"} ,\n    \"\u00e9\": "
         "null\n}",
         "{\n    \"statusL\\u0069ne\": " + std::string(line) + " ,\n    \"\u00e9\": null\n}"},
    };
    for (const auto& [before, after] : cases) {
        std::optional<std::string> previous;
        const auto edited = ClaudeSettings::withStatusLine(before, ours, previous);
        ASSERT_TRUE(edited) << before;
        EXPECT_EQ(*edited, after);
        EXPECT_EQ(ClaudeSettings::statusLineCommand(*edited), std::string(ours));
        // Taking it out again leaves the file as it was, or with the earlier line back.
        const auto undone = ClaudeSettings::withoutStatusLine(*edited, previous);
        ASSERT_TRUE(undone);
        EXPECT_EQ(ClaudeSettings::statusLineCommand(*undone),
                  previous ? std::optional<std::string>("ccline") : std::nullopt);
    }
    std::optional<std::string> previous;
    for (const char* broken : {"", "[]", "{\"a\":}", "{} {}", "// note\n{}"}) {
        EXPECT_FALSE(ClaudeSettings::withStatusLine(broken, ours, previous)) << broken;
    }
}

TEST(StatusLine, InstallKeepsABackupAndUninstallRemovesOnlyItsOwn) {
    test::TempTree home;
    const auto file =
        home.write(".claude/settings.json", R"({"statusLine": {"type": "command", "command": "mine"}})");
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(ClaudeSettings::install(file, ours).ok);
    EXPECT_EQ(test::readFile(ClaudeSettings::backupPath(file)),
              R"({"statusLine": {"type": "command", "command": "mine"}})");
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(ClaudeSettings::uninstall(file).ok);
    EXPECT_EQ(test::readFile(file), R"({"statusLine": {"type": "command", "command": "mine"}})");
    ASSERT_TRUE(ClaudeSettings::uninstall(file).ok); // not ours: left alone
    EXPECT_EQ(test::readFile(file), R"({"statusLine": {"type": "command", "command": "mine"}})");

    // A folder that takes no new file: the backup, then the settings themselves cannot be written.
    for (const bool installed : {false, true}) {
        if (installed) {
            ASSERT_TRUE(ClaudeSettings::install(file, ours).ok);
        }
        const auto before = test::readFile(file);
        const test::WithoutPermissionOverride unprivileged;
        std::filesystem::permissions(file.parent_path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_FALSE(installed ? ClaudeSettings::uninstall(file).ok : ClaudeSettings::install(file, ours).ok);
        std::filesystem::permissions(file.parent_path(), std::filesystem::perms::owner_all);
        EXPECT_EQ(test::readFile(file), before);
    }

    home.write(".claude/settings.json", "{\"a\": 1,}");
    EXPECT_FALSE(ClaudeSettings::install(file, ours).ok);
    EXPECT_EQ(test::readFile(file), "{\"a\": 1,}");
}

} // namespace
} // namespace fernhollow
