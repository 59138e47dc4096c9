#include "core/model/Clock.h"
#include "core/model/IsoDate.h"
#include "platform/system/Keychain.h"
#include "support/FileModes.h"
#include "support/LocalHttpServer.h"
#include "support/OtherMachine.h"
#include "support/TempTree.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace fernhollow {
namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the real binary with its folders in `home`, turning the event loop for this process's servers.
CommandRun runFernhollow(const QStringList& arguments,
                         const QStringList& environment = {QStringLiteral("TZ=UTC")},
                         const test::TempTree& home = test::TempTree(), const std::string& input = {}) {
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("HOME"), QString::fromStdString(home.root().string()));
    variables.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString((home / "data").string()));
    variables.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((home / "config").string()));
    variables.insert(QStringLiteral("XDG_CACHE_HOME"), QString::fromStdString((home / "cache").string()));
    // No display unless a test gives one: without it the bare command is the report.
    variables.remove(QStringLiteral("DISPLAY"));
    variables.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const QString& assignment : environment) {
        variables.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
    }
    QProcess process;
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(FERNHOLLOW_BINARY), arguments);
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(10) && clock.elapsed() < 60'000) {
        QCoreApplication::processEvents();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

QStringList args(const std::vector<std::string>& list) {
    QStringList result;
    for (const auto& item : list) {
        result << QString::fromStdString(item);
    }
    return result;
}

// Each expected text is somewhere in the output.
void expectHolds(const std::string& out, const std::vector<std::string>& expected) {
    for (const std::string& text : expected) {
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    }
}

const std::string fixtureRoot = std::string(FERNHOLLOW_TEST_DATA_DIR) + "/claude-projects";
const std::string openClawFixture = std::string(FERNHOLLOW_TEST_DATA_DIR) + "/openclaw-agents";
const QString openAIAccount = QString::fromLatin1(Keychain::openAIAccount);

// Days are those of the user's time zone: 2025-11-06T23:30Z is already the 7th in Tokyo.
TEST(ReportCommand, PrintsTheFixtureTreeAsJson) {
    const CommandRun run =
        runFernhollow(args({"report", "--json", "--no-openai", "--claude-dir", fixtureRoot}),
                      {QStringLiteral("TZ=Asia/Tokyo")});
    ASSERT_EQ(run.exitCode, 0);
    // Streamed copies and a resumed session's repeat count once; a half-written line, hidden files
    // and a capitalised extension nothing.
    EXPECT_EQ(run.out.substr(0, run.out.find(R"(,"todayUSD")")),
              test::readFile(std::string(FERNHOLLOW_TEST_DATA_DIR) + "/claude-projects-report-tokyo.json"));
}

// Every --claude-dir is read and named with its count, a missing one too; one named again
// through a link, a trailing slash or ".." is read and named once, as first spelt.
TEST(ReportCommand, ReadsEveryClaudeFolderNamedOnce) {
    test::TempTree home;
    const std::string reply = R"({"message":{"usage":{"input_tokens":1}},"timestamp":"2026-01-01T00:00:0)";
    home.write("a/p/s1.jsonl", reply + "1Z\"}\n");
    home.write("b/p/s2.jsonl", reply + "2Z\"}\n" + reply + "3Z\"}\n");
    std::filesystem::create_directory_symlink(home / "a", home / "link");
    const auto folder = [&](std::string_view name, std::string_view found) {
        return R"({"folder":")" + (home / name).string() + R"(","found":)" + std::string(found);
    };
    const CommandRun run =
        runFernhollow(args({"report", "--json", "--no-openai", "--claude-dir", (home / "a").string(),
                            "--claude-dir=" + (home / "b").string(), "--claude-dir", (home / "gone").string(),
                            "--claude-dir", (home / "link").string(), "--claude-dir", (home / "a/").string(),
                            "--claude-dir", (home / "b/../a").string()}),
                      {}, home);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    expectHolds(run.out, {R"("sources":{"claude":3,)", folder("a", "true,\"records\":1}"),
                          folder("b", "true,\"records\":2}"), folder("gone/projects", "false")});
    EXPECT_EQ(run.out.find(folder("a", "")), run.out.rfind(folder("a", ""))) << run.out;
    EXPECT_EQ(run.out.find("/link"), std::string::npos) << run.out;
}

// OpenClaw's sessions join Claude Code's, the checkpoint copy of the main session once; both
// are priced with the user's overrides and the cached catalogue.
TEST(ReportCommand, AddsOpenClawAndPricesWithTheUsersOverridesAndTheCachedCatalogue) {
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
        runFernhollow(args({"report", "--json", "--claude-dir", (home / "projects").string(),
                            "--openclaw-dir", openClawFixture}),
                      {}, home);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    expectHolds(run.out, {R"({"records":5,)", R"("model":"house-model","inputTokens":1000000,)",
                          R"("cacheReadInputTokens":0,"usd":7})", R"("cacheReadInputTokens":0,"usd":0.5})",
                          R"({"model":"deepseek-chat","inputTokens":1200,"outputTokens":300,)",
                          R"({"model":"gpt-4.1","inputTokens":1000000,"outputTokens":1000,)"});
}

class ReportWithOpenAIKey : public testing::Test {
protected:
    static constexpr auto key = "sk-admin-test-4f1e9b7c";
    void SetUp() override {
        ASSERT_TRUE(QCoro::waitFor(Keychain::set(QString::fromLatin1(key), openAIAccount)));
    }
    void TearDown() override { QCoro::waitFor(Keychain::remove(openAIAccount)); }

    static CommandRun report(const test::LocalHttpServer& server, const QStringList& extra = {},
                             const test::TempTree& home = test::TempTree()) {
        return runFernhollow(
            args({"report", "--json", "--claude-dir", (home / "none").string(), "--openclaw-dir",
                  (home / "none").string()}) +
                extra,
            {QStringLiteral("TZ=UTC"), QStringLiteral("FERNHOLLOW_OPENAI_BASE_URL=") + server.baseUrl()},
            home);
    }
};

// A fetch that fails still leaves the report; one asked not to be made is not.
TEST_F(ReportWithOpenAIKey, StillPrintsTheReportWhenTheFetchFailsAndSkipsItWhenAsked) {
    const test::LocalHttpServer server(
        {.status = 401, .reason = "Unauthorized", .body = R"({"error":{"message":"Invalid admin key"}})"});
    const CommandRun run = report(server);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.starts_with(R"({"records":0,"byModel":[],"byDay":[],)")) << run.out;
    EXPECT_NE(
        run.out.find(R"("openaiError":"OpenAI HTTP 401: {\"error\":{\"message\":\"Invalid admin key\"}}")"),
        std::string::npos);
    EXPECT_EQ(run.err,
              "fernhollow report: OpenAI HTTP 401: {\"error\":{\"message\":\"Invalid admin key\"}}\n");
    EXPECT_EQ(report(server, {QStringLiteral("--no-openai")}).exitCode, 0);
    EXPECT_EQ(server.requests().size(), 1u);
}

// The key in the clear and in base64, standard and URL-safe, at each offset a longer text could
// hold it at: only the groups that depend on the key alone.
std::vector<std::string> formsOf(const QByteArray& secret) {
    std::vector<std::string> forms{secret.toStdString()};
    for (const auto encoding : {QByteArray::Base64Encoding, QByteArray::Base64UrlEncoding}) {
        for (int offset = 0; offset < 3; ++offset) {
            const QByteArray encoded = (QByteArray(offset, 'x') + secret).toBase64(encoding);
            forms.push_back(encoded.mid(offset == 0 ? 0 : 4).chopped(4).toStdString());
        }
    }
    return forms;
}

bool containsAny(std::string_view bytes, const std::vector<std::string>& forms) {
    return std::any_of(forms.begin(), forms.end(), [bytes](const std::string& form) {
        return bytes.find(form) != std::string_view::npos;
    });
}

// The organisation's usage is added, a moment beyond any calendar without a day. The key comes
// from the Secret Service and goes to the server alone: no process shows it while the run
// lasts, and no file the run wrote and neither output holds it.
TEST_F(ReportWithOpenAIKey, AddsTheOrganisationsUsageWithTheKeySentToTheServerAlone) {
    const std::vector<std::string> forms = formsOf(key);
    const test::LocalHttpServer server(
        {.body = R"({"object":"page","data":[{"start_time":1730419200,"results":[)"
                 R"({"model":"gpt-4o","input_tokens":1000000,"output_tokens":0,"input_cached_tokens":0}]},)"
                 R"({"start_time":9223372036854775807,"results":[{"model":"o3","input_tokens":5}]}]})"});
    bool sawTheProgram = false;
    std::vector<std::string> seenIn;
    QTimer watch;
    watch.callOnTimeout([&] {
        std::error_code ignored;
        for (const auto& process : std::filesystem::directory_iterator("/proc", ignored)) {
            const std::string commandLine = test::readFile(process.path() / "cmdline").value_or("");
            sawTheProgram = sawTheProgram || commandLine.starts_with(FERNHOLLOW_BINARY);
            if (containsAny(commandLine + test::readFile(process.path() / "environ").value_or(""), forms)) {
                seenIn.push_back(process.path().string());
            }
        }
    });
    watch.start(5);
    const test::TempTree home;
    const CommandRun run = report(server, {}, home);
    watch.stop();

    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("Authorization"), QByteArray("Bearer ") + key);
    expectHolds(run.out, {R"({"model":"gpt-4o","inputTokens":1000000,)", R"({"date":"2024-11-01",)",
                          R"({"date":"unknown",)"});
    EXPECT_TRUE(sawTheProgram);
    EXPECT_EQ(seenIn, std::vector<std::string>{});
    EXPECT_FALSE(containsAny(run.out, forms));
    EXPECT_FALSE(containsAny(run.err, forms));
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.root())) {
        written.push_back(entry.path().string());
        if (containsAny(entry.path().string(), forms) ||
            containsAny(test::readFile(entry.path()).value_or(""), forms)) {
            seenIn.push_back(entry.path().string());
        }
    }
    EXPECT_TRUE(std::filesystem::exists(home / "data/Fernhollow/ledger.sqlite3"));
    EXPECT_EQ(seenIn, std::vector<std::string>{}) << written.size() << " entries looked through";
}

TEST(ReportCommand, AddsEveryFigureThePanelShows) {
    test::TempTree home;
    home.write("config/Fernhollow/preferences.json", R"({"fernhollow.monthlyBudgetUSD": 0.01})");
    const std::string stamp = isodate::formatUtcWholeSeconds(Clock::system().now());
    home.write("projects/-home-dev-app/s1.jsonl",
               R"({"timestamp":")" + stamp +
                   R"(","message":{"id":"m","model":"claude-sonnet-4-5","usage":{"input_tokens":1000000}}})"
                   "\n");
    const CommandRun run = runFernhollow(
        args({"report", "--json", "--no-openai", "--claude-dir", (home / "projects").string()}), {}, home);
    ASSERT_EQ(run.exitCode, 0);
    // A prompt of a million tokens is past Sonnet's 200k tier: $6 per million input tokens.
    expectHolds(
        run.out,
        {R"("todayUSD":6,"weekUSD":6,"monthUSD":6,"last30DaysUSD":6,"avg7dPriorDaily":0,"todayDelta":"")",
         R"("status":"over","monthlyBudgetUSD":0.01,"dailySeries":[{"date":)",
         R"("liveSessions":[{"id":"s1","projectShortName":"app","totalUSD":6,"totalTokens":1000000,)",
         R"("monthByModel":[{"model":"claude-sonnet-4-5","usd":6}],"monthByProject":[{"project":"-home-dev-app","usd":6}])",
         R"("unpricedModels":[],"unpricedRecords":0,"unpricedUSDAtFallback":0,"openaiError":null,"sources":{"claude":1,"openclaw":0,"openai":0,"codex":0,"gemini":0},"sourceFolders":{"claude":[{"folder":)"});
}

// Whatever the umask, all the program leaves below its data folder is owner-only, the base included.
TEST(ReportCommand, LeavesItsDataOwnerOnly) {
    const test::LocalHttpServer catalogue(
        {.body = R"({"gpt-4o": {"input_cost_per_token": 2.5e-6, "output_cost_per_token": 1e-5}})"});
    for (const mode_t mask : {0000, 0277}) {
        SCOPED_TRACE(mask);
        const test::TempTree home;
        home.write("config/Fernhollow/preferences.json", R"({"fernhollow.syncRemotePricing": true})");
        home.write("projects/p/s.jsonl", R"({"message":{"id":"a","usage":{"input_tokens":1000000}}})"
                                         "\n");
        CommandRun run;
        {
            const test::WithUmask umask(mask);
            run = runFernhollow(
                args({"report", "--json", "--no-openai", "--claude-dir", (home / "projects").string()}),
                {QStringLiteral("FERNHOLLOW_LITELLM_BASE_URL=") + catalogue.baseUrl()}, home);
        }
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const char* file :
             {"ledger.sqlite3", "pricing_overrides.example.json", "pricing_remote_cache.json"}) {
            EXPECT_TRUE(std::filesystem::exists(home / "data/Fernhollow" / file)) << file;
        }
        EXPECT_EQ(test::notOwnerOnly(home / "data"), std::vector<std::string>{});
    }
    EXPECT_EQ(catalogue.requests().size(), 2u);
}

TEST(ReportCommand, RefusesArgumentsItCannotUseWithExitCodeTwo) {
    const std::vector<QStringList> refused = {
        args({"report", "--bogus"}),
        args({"report", "--claude-dir"}),
        args({"report", "extra"}),
        args({"frobnicate"}),
        args({"daily", "--since", "2025-02-30"}),
        args({"monthly", "--timezone", "Nowhere/Special"}),
        args({"session", "--source", "cursor"}),
        args({"blocks", "--order"}),
        args({"daily", "--since", "2025-03-02", "--until", "2025-03-01"}),
        args({"report", "--since", "2025-01-01"}),
        args({"statusline", "--frobnicate"}),
        args({"session", "--device="}),
        args({"monthly", "--device", "nowhere"}),
    };
    for (const QStringList& arguments : refused) {
        const CommandRun run = runFernhollow(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

// Two homes and the folder they share: this machine's log holds reply "a"; the desk's ledger
// holds "a" too (a log tree copied over) and "b".
TEST(ReportCommand, DeviceChoosesTheMachinesCounted) {
    const test::TempTree home;
    home.write("projects/p/s.jsonl", R"({"timestamp":"2026-01-05T10:00:00Z","message":{"id":"a",)"
                                     R"("model":"claude-sonnet-4-5","usage":{"output_tokens":1000}}})"
                                     "\n");
    const double at = *isodate::parseInternetDateTime("2026-01-05T10:00:00Z");
    std::filesystem::create_directories(home / "Sync");
    test::shareAsAnotherMachine(
        home / "Sync", {"6F1C2A3B-0000-4000-8000-00000000000B", "desk-e2e"},
        {test::otherMachinesReply("a", at, 1000), test::otherMachinesReply("b", at, 2000)}, at + 7200.0);
    const std::string desk =
        R"("devices":[{"id":"6F1C2A3B-0000-4000-8000-00000000000B","name":"desk-e2e","thisMachine":false,)"
        R"("lastSeen":"2026-01-05T12:00:00Z","records":1,"tokens":2000,"usd":0.03}]})";
    // Each row: the arguments, whether all machines are shown, and texts the output holds.
    const std::tuple<std::vector<std::string>, bool, std::vector<std::string>> cases[] = {
        {{"report", "--json"}, true, {R"({"records":2,)", R"(,"tokens":1000,"usd":0.015},{"id":"6F1C2A3B-)"}},
        {{"report", "--json"}, false, {R"({"records":1,)", R"("devices":[{"id":"this",)"}},
        {{"report", "--json", "--device", "this"},
         true,
         {R"({"records":1,)", R"("tokens":1000,"usd":0.015}]})"}},
        {{"report", "--json", "--device=all"}, false, {R"({"records":2,)"}},
        {{"report", "--json", "--device", "desk-e2e"}, false, {R"({"records":1,)", desk}},
        {{"report", "--json", "--device", "6f1c2a3b-0000-4000-8000-00000000000b"}, true, {desk}},
        {{"daily", "--json", "--device", "desk-e2e"},
         true,
         {R"("totals":{"inputTokens":0,"outputTokens":2000,)"}},
        {{"report"}, true, {"  By machine ", " (this machine) ", "\n  desk-e2e "}},
    };
    for (const auto& [given, allMachinesShown, expected] : cases) {
        home.write("config/Fernhollow/preferences.json",
                   R"({"fernhollow.sharedFolder": ")" + (home / "Sync").string() +
                       R"(", "fernhollow.showAllMachines": )" + (allMachinesShown ? "true}" : "false}"));
        const QStringList arguments =
            args(given) + args({"--no-openai", "--claude-dir", (home / "projects").string()});
        const CommandRun run = runFernhollow(arguments, {}, home);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        expectHolds(run.out, expected);
    }
    // One machine alone has no section of its own.
    EXPECT_EQ(
        runFernhollow(args({"report", "--device", "this", "--no-openai"}), {}, home).out.find("By machine"),
        std::string::npos);
    // The desk made anew shares under the same name: the name no longer tells which one.
    test::shareAsAnotherMachine(home / "Sync", {"6F1C2A3B-0000-4000-8000-00000000000C", "desk-e2e"},
                                {test::otherMachinesReply("c", at, 4000)}, at);
    const CommandRun ambiguous =
        runFernhollow(args({"report", "--device", "desk-e2e", "--no-openai"}), {}, home);
    EXPECT_EQ(ambiguous.exitCode, 2);
    EXPECT_EQ(ambiguous.err, "fernhollow report: --device 'desk-e2e' names 2 machines; give one's id: "
                             "6F1C2A3B-0000-4000-8000-00000000000B, 6F1C2A3B-0000-4000-8000-00000000000C\n");
}

TEST(ReportCommand, PeriodReportsPrintTablesThatFitAndSayWhenARangeIsEmpty) {
    const CommandRun daily = runFernhollow(
        args({"daily", "--no-openai", "--claude-dir", fixtureRoot, "--breakdown"}), {"TZ=UTC", "NO_COLOR=1"});
    ASSERT_EQ(daily.exitCode, 0) << daily.err;
    expectHolds(daily.out, {"2025-11-05", "22,000"});
    EXPECT_EQ(daily.out.find('\033'), std::string::npos);
    for (std::size_t start = 0, end; (end = daily.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LE(QString::fromStdString(daily.out.substr(start, end - start)).size(), 80) << daily.out;
    }
    const CommandRun empty =
        runFernhollow(args({"blocks", "--no-openai", "--claude-dir", fixtureRoot, "--since", "2030-01-01"}));
    EXPECT_EQ(empty.out, "No usage in this range.\n");
}

TEST(ReportCommand, TheStatusLineNeverFails) {
    test::TempTree home;
    for (const std::string& input :
         {std::string("{\"model\":"), std::string(3'000'000, '{'), std::string()}) {
        const CommandRun run =
            runFernhollow(args({"statusline"}), {QStringLiteral("NO_COLOR=1")}, home, input);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "today $0.00 \u00b7 \u25cf\n");
    }
}

// Without --claude-dir the projects folder is found in the home folder.
TEST(ReportCommand, WithoutADisplayTheBareCommandSaysSoAndPrintsTheReport) {
    test::TempTree home;
    home.write(".claude/projects/p/s.jsonl", R"({"message":{"usage":{"input_tokens":1000000}}})"
                                             "\n");
    const CommandRun bare = runFernhollow({}, {QStringLiteral("TZ=UTC")}, home);
    EXPECT_EQ(bare.exitCode, 0);
    EXPECT_EQ(bare.err,
              "fernhollow: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set), so here "
              "is the report instead.\n");
    expectHolds(bare.out, {"\n1 usage records, API-equivalent total $3.00\n",
                           "Monthly budget $3.00 / $200  (", "%)   status ok"});
    EXPECT_EQ(bare.out, runFernhollow(args({"report"}), {QStringLiteral("TZ=UTC")}, home).out);
}

} // namespace
} // namespace fernhollow
