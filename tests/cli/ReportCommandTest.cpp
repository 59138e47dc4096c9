#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fernhollow {
namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
};

// Runs the real binary through the shell, as a user would, with its data and configuration
// folders in `home` (a fresh scratch folder unless given).
CommandRun runFernhollow(const std::string& arguments, const std::string& environment = "TZ=UTC",
                         const test::TempTree& home = test::TempTree()) {
    const std::string folders = " HOME='" + home.root().string() + "' XDG_DATA_HOME='" +
                                (home / "data").string() + "' XDG_CONFIG_HOME='" +
                                (home / "config").string() + "' ";
    const std::string command = "env" + folders + environment + " '" FERNHOLLOW_BINARY "' " + arguments;
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer{};
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        run.out.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const std::string fixtureRoot = std::string(FERNHOLLOW_TEST_DATA_DIR) + "/claude-projects";

TEST(ReportCommand, PrintsTheFixtureTreeAsJson) {
    const CommandRun run = runFernhollow("report --json --claude-dir '" + fixtureRoot + "'");
    ASSERT_EQ(run.exitCode, 0);
    // Streamed copies count once at their final output; the resumed session's repeat of a
    // reply counts once; the half-written line, hidden files and the capitalised extension
    // count nothing; an unknown model is priced as Sonnet.
    EXPECT_EQ(
        run.out,
        R"({"records":5,"byModel":[)"
        R"({"model":"claude-opus-4-1-20250805","inputTokens":100,"outputTokens":400,"cacheCreationInputTokens":0,"cacheCreation1hTokens":0,"cacheReadInputTokens":12000,"usd":0.0495},)"
        R"({"model":"claude-sonnet-4-5-20250929","inputTokens":14,"outputTokens":940,"cacheCreationInputTokens":2000,"cacheCreation1hTokens":2000,"cacheReadInputTokens":10000,"usd":0.029141999999999998},)"
        R"({"model":"gpt-5-unknown","inputTokens":1000,"outputTokens":1000,"cacheCreationInputTokens":0,"cacheCreation1hTokens":0,"cacheReadInputTokens":0,"usd":0.018},)"
        R"({"model":"claude-haiku-4-5-20251001","inputTokens":50,"outputTokens":120,"cacheCreationInputTokens":1000,"cacheCreation1hTokens":0,"cacheReadInputTokens":0,"usd":0.0019}],)"
        R"("byDay":[)"
        R"({"date":"2025-11-05","inputTokens":154,"outputTokens":1370,"cacheCreationInputTokens":3000,"cacheCreation1hTokens":2000,"cacheReadInputTokens":22000,"usd":0.079162},)"
        R"({"date":"2025-11-06","inputTokens":1010,"outputTokens":1090,"cacheCreationInputTokens":0,"cacheCreation1hTokens":0,"cacheReadInputTokens":0,"usd":0.019379999999999998}]})"
        "\n");
}

TEST(ReportCommand, GroupsDaysInTheUsersTimeZone) {
    // 2025-11-06T23:30Z is already the 7th in Tokyo; 2025-11-05T10:00Z is still the 5th.
    const CommandRun run = runFernhollow("report --json --claude-dir '" + fixtureRoot + "'", "TZ=Asia/Tokyo");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find(R"("date":"2025-11-05")"), std::string::npos);
    EXPECT_NE(run.out.find(R"({"date":"2025-11-07","inputTokens":1000,)"), std::string::npos);
}

TEST(ReportCommand, PrintsAReadableTable) {
    const CommandRun run = runFernhollow("report --claude-dir '" + fixtureRoot + "'");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "5 usage records, API-equivalent total $0.10");
    EXPECT_NE(run.out.find("claude-opus-4-1-20250805"), std::string::npos);
    EXPECT_NE(run.out.find("2025-11-06"), std::string::npos);
}

TEST(ReportCommand, AMissingRootIsAnEmptyReport) {
    test::TempTree home;
    EXPECT_EQ(runFernhollow("report --json --claude-dir '" + (home / "nothing").string() + "'").out,
              "{\"records\":0,\"byModel\":[],\"byDay\":[]}\n");
    // Without --claude-dir the projects folder is found in the home folder.
    home.write(".claude/projects/p/s.jsonl", R"({"message":{"usage":{"input_tokens":1000000}}})"
                                             "\n");
    const CommandRun run = runFernhollow("report --json", "TZ=UTC", home);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find(R"("records":1,)"), std::string::npos);
    EXPECT_NE(run.out.find(R"("usd":3})"), std::string::npos);
}

TEST(ReportCommand, ASecondRunOverAnUnchangedTreeAnswersFromTheCache) {
    test::TempTree home;
    const auto log =
        home.write("projects/p/s.jsonl", R"({"message":{"id":"a","usage":{"input_tokens":1000000}}})"
                                         "\n");
    const std::string arguments = "report --json --claude-dir '" + (home / "projects").string() + "'";
    const CommandRun first = runFernhollow(arguments, "TZ=UTC", home);
    EXPECT_NE(first.out.find(R"("records":1,)"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(home / "data/Fernhollow/state.json"));

    // Other content behind the same modification time: only a read of the log would see it.
    const auto mtime = std::filesystem::last_write_time(log);
    home.write("projects/p/s.jsonl", "");
    std::filesystem::last_write_time(log, mtime);
    EXPECT_EQ(runFernhollow(arguments, "TZ=UTC", home).out, first.out);

    test::TempTree::shiftMtime(log, std::chrono::seconds(5));
    EXPECT_NE(runFernhollow(arguments, "TZ=UTC", home).out.find(R"("records":0,)"), std::string::npos);
}

TEST(ReportCommand, PricesWithTheUsersOverridesAndTheCachedCatalogue) {
    test::TempTree home;
    home.write("projects/p/s.jsonl",
               R"({"message":{"model":"house-model","usage":{"input_tokens":1000000}}})"
               "\n"
               R"({"message":{"model":"synced-model","usage":{"input_tokens":1000000}}})"
               "\n");
    home.write("data/Fernhollow/pricing_overrides.json", R"({"house-model":{"input":7,"output":1}})");
    home.write("data/Fernhollow/pricing_remote_cache.json",
               R"({"synced-model":{"input":0.5,"output":1,"cacheWrite":1,"cacheWrite1h":1,"cacheRead":1}})");
    const CommandRun run =
        runFernhollow("report --json --claude-dir '" + (home / "projects").string() + "'", "TZ=UTC", home);
    EXPECT_NE(run.out.find(R"("model":"house-model","inputTokens":1000000,)"), std::string::npos);
    EXPECT_NE(run.out.find(R"("cacheReadInputTokens":0,"usd":7})"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"("cacheReadInputTokens":0,"usd":0.5})"), std::string::npos) << run.out;
}

TEST(ReportCommand, RefusesArgumentsItCannotUseWithExitCodeTwo) {
    for (const std::string arguments :
         {"report --bogus", "report --claude-dir", "report extra", "", "frobnicate"}) {
        const CommandRun run = runFernhollow(arguments + " 2>&1");
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << arguments << ": " << run.out;
    }
}

} // namespace
} // namespace fernhollow
