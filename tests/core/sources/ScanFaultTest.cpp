#include "core/model/Utf8.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/OpenClawParser.h"

#include "support/TempTree.h"
#include "support/WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>

namespace fernhollow {
namespace {

using test::TempTree;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The "é" makes a read that ends inside a character fail the file's UTF-8 check.
std::string claudeLine(std::string_view id) {
    return R"({"type":"assistant","message":{"id":")" + std::string(id) +
           R"(","model":"claude-é","usage":{"input_tokens":3,"output_tokens":4}},"timestamp":"2025-11-05T10:00:00Z"})"
           "\n";
}

std::string openClawLine(std::string_view id) {
    return R"({"type":"message","timestamp":"2026-01-05T10:00:00Z","message":{"role":"assistant","id":")" +
           std::string(id) +
           R"(","model":"m-é","usage":{"input":3,"output":4}}})"
           "\n";
}

struct Source {
    const char* name;
    ScanResult (*scan)(const fs::path& root, const LogFileStates& known, bool wholeFiles, ScanProgress*);
    std::string (*line)(std::string_view id);
    std::string_view projectPrefix; // put before the name of a project (agent) folder
    std::string_view sessions;      // the folder between a project (agent) folder and its logs
};

const Source claude{"Claude", CCUsageParser::parseChanged, claudeLine, "", ""};
const Source openClaw{"OpenClaw", OpenClawParser::parseChanged, openClawLine, "openclaw/", "sessions/"};

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.name;
}

// What a scan gave as sorted "project/session#message" entries; a message given twice shows twice.
std::vector<std::string> counted(const ScanResult& result) {
    std::vector<std::string> entries;
    for (const UsageRecord& record : result.records) {
        entries.push_back(record.projectPath.str() + "/" + record.sessionId.str() + "#" + record.messageId);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Takes a pass's log states into `known`, as the ledger does.
void carry(LogFileStates& known, const ScanResult& result) {
    for (const auto& [path, state] : result.files) {
        known[path] = state;
    }
    for (const std::string& path : result.goneFiles) {
        known.erase(path);
    }
}

class ScanFault : public testing::TestWithParam<Source> {
protected:
    static const Source& source() { return GetParam(); }

    static std::string logPath(std::string_view project, std::string_view session) {
        return std::string(project) + "/" + std::string(source().sessions) + std::string(session) + ".jsonl";
    }

    // Writes a log of `lines` replies with ids of their own, adding to `expected` what a scan gives.
    fs::path writeLog(std::string_view project, std::string_view session, std::vector<std::string>& expected,
                      int lines = 1) {
        std::string content;
        for (int i = 0; i < lines; ++i) {
            const std::string id = "m" + std::to_string(nextId_++);
            content += source().line(id);
            expected.push_back(utf8::toValid(std::string(source().projectPrefix) + std::string(project)) +
                               "/" + utf8::toValid(session) + "#" + id);
        }
        std::sort(expected.begin(), expected.end());
        return tree_.write(logPath(project, session), content);
    }

    ScanResult scan(const LogFileStates& known = {}) const {
        return source().scan(tree_.root(), known, false, nullptr);
    }

    TempTree tree_;
    int nextId_ = 0;
};

// A log written from pieces: "q", a line that counts nothing, longer than the window compared
// before a tail read, and "Q" the same with its first byte changed; "mN", reply mN; "M0", m0
// with a count changed; "m2<", m2 cut inside its "é".
std::string logText(const Source& source, std::string_view pieces) {
    std::string text;
    std::istringstream in{std::string(pieces)};
    for (std::string piece; in >> piece;) {
        std::string line = source.line(piece == "M0" ? "m0" : piece.substr(0, piece.find('<')));
        if (piece == "q" || piece == "Q") {
            line = R"({"message":{"content":")" + std::string(checkedWindowBytes, 'x') + "\"}}\n";
            line[line.find('x')] = piece == "Q" ? 'y' : 'x';
        } else if (piece == "M0") {
            line[line.find(":3,") + 1] = '5';
        } else if (piece.ends_with('<')) {
            line.resize(line.find("é") + 1);
        }
        text += line;
    }
    return text;
}

// How the pass after the first takes the log "s", and what else comes with the change.
enum class Read { notOpened, tail, whole, gone };
enum class Also { nothing, sameTime, rootLocked, logLocked, rescan };

// What happens to the log "s" between two passes, beside a log "t" that grows only where said.
struct Change {
    const char* name;
    const char* before; // "s" at the first pass, in pieces (see logText); null: not there yet
    const char* after;  // "s" 5 s later; null: deleted
    Read read;
    std::vector<std::string> back; // the message ids the second pass gives, sorted
    Also also = Also::nothing;
};

const Change changes[] = {
    {"a new log is read whole", nullptr, "q m0 m1", Read::whole, {"m0", "m1"}},
    // Same size and time: bytes changed behind them go unseen.
    {"an unchanged log is not opened", "q m0 m1", "q M0 m1", Read::notOpened, {}, Also::sameTime},
    {"an appended line comes back alone", "q m0 m1", "q m0 m1 m2", Read::tail, {"m2"}},
    {"a touched log gives its new time only", "q m0 m1", "q m0 m1", Read::tail, {}},
    {"a half-written line is left for later", "q m0 m1", "q m0 m1 m2<", Read::tail, {}},
    {"a completed line comes back", "q m0 m1 m2<", "q m0 m1 m2", Read::tail, {"m2"}},
    {"a log rewritten at its size is read whole", "q m0 m1", "q M0 m1", Read::whole, {"m0", "m1"}},
    {"a log rewritten at its start is read whole", "q m0 m1", "Q m0 m1 m2", Read::whole, {"m0", "m1", "m2"}},
    {"a log rewritten and grown is read whole", "q m0 m1", "q M0 m1 m2", Read::whole, {"m0", "m1", "m2"}},
    {"a shorter log is read whole", "q m0 m1", "q m0", Read::whole, {"m0"}},
    {"a deleted log is gone", "q m0 m1", nullptr, Read::gone, {}},
    {"a root not listed changes nothing", "q m0 m1", "q m0 m1 m2", Read::notOpened, {}, Also::rootLocked},
    // ... and the logs after it in the pass are read all the same.
    {"an unreadable log keeps its state", "q m0 m1", "q m0 m1 m2", Read::notOpened, {"t1"}, Also::logLocked},
    {"every log is read whole if asked", "q m0 m1", "q m0 m1", Read::whole, {"m0", "m1", "t0"}, Also::rescan},
};

// As the walk times a file.
double mtimeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
}

TEST_P(ScanFault, EachChangeToALogIsReadAsFarAsItNeeds) {
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        const TempTree tree;
        const fs::path s = tree / logPath("p", "s");
        if (change.before != nullptr) {
            tree.write(logPath("p", "s"), logText(source(), change.before));
        }
        tree.write(logPath("p", "t"), source().line("t0"));
        LogFileStates known;
        carry(known, source().scan(tree.root(), {}, false, nullptr));
        ASSERT_EQ(known.size(), change.before != nullptr ? 2u : 1u);

        if (change.after == nullptr) {
            fs::remove(s);
        } else {
            const auto time =
                change.before != nullptr ? fs::last_write_time(s) : fs::file_time_type::clock::now();
            tree.write(logPath("p", "s"), logText(source(), change.after));
            fs::last_write_time(s, time + (change.also == Also::sameTime ? 0s : 5s));
        }
        if (change.also == Also::logLocked) {
            tree.write(logPath("p", "t"), source().line("t0") + source().line("t1"));
        }
        const fs::path locked = change.also == Also::rootLocked ? tree.root() : s;
        ScanProgress progress;
        ScanResult next;
        {
            const test::WithoutPermissionOverride unprivileged;
            const bool lock = change.also == Also::rootLocked || change.also == Also::logLocked;
            if (lock) {
                fs::permissions(locked, fs::perms::none);
            }
            next = source().scan(tree.root(), known, change.also == Also::rescan, &progress);
            if (lock) {
                fs::permissions(locked, fs::perms::owner_all);
            }
        }

        std::vector<std::string> ids;
        std::set<std::string> readLogs;
        for (const UsageRecord& record : next.records) {
            ids.push_back(record.messageId);
            readLogs.insert(record.sessionId.str());
        }
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, change.back);
        if (change.read == Read::tail || change.read == Read::whole) {
            readLogs.insert("s");
        }
        // Those logs alone are opened, with states that match them: size, time, read to the last line break.
        std::set<std::string> stated;
        std::uint64_t statedBytes = 0;
        for (const auto& [path, state] : next.files) {
            const std::string text = test::readFile(path).value();
            EXPECT_EQ(state.size, text.size()) << path;
            EXPECT_EQ(state.mtime, mtimeOf(path)) << path;
            EXPECT_EQ(state.readEnd, text.rfind('\n') + 1) << path;
            stated.insert(fs::path(path).stem());
            statedBytes += state.size;
        }
        EXPECT_EQ(stated, readLogs);
        EXPECT_EQ(progress.filesToRead, next.files.size() + (change.also == Also::logLocked ? 1 : 0));
        EXPECT_EQ(next.goneFiles,
                  change.read == Read::gone ? std::vector{s.string()} : std::vector<std::string>{});
        // A tail read starts at the window before the old read end, a whole read at the start.
        const auto skipped =
            change.read == Read::tail ? known.at(s.string()).readEnd - checkedWindowBytes : 0;
        EXPECT_EQ(next.bytesRead + skipped, statedBytes);
    }
}

// Names that are not UTF-8 still count and become text, two files that then share a key both
// counting; links are followed, but loops and links to a parent give every file once.
TEST_P(ScanFault, OddNamesAndLinksGiveEveryFileOnce) {
    std::vector<std::string> expected = {std::string(source().projectPrefix) + "q/l#far"};
    writeLog("proj\xFF", "sess\xFE", expected);
    writeLog("proj\xFE", "sess\xC3", expected);
    writeLog("caf\xC3\xA9", "ok", expected);
    const fs::path a = writeLog("a", "s", expected, 2).parent_path();
    const fs::path b = writeLog("b", "t", expected, 2).parent_path();
    fs::create_directory_symlink(a, a / "self");
    fs::create_directory_symlink(tree_.root(), a / "up");
    fs::create_directories(b / "sub");
    fs::create_directory_symlink(b, b / "sub/back");
    const TempTree outside;
    outside.write(logPath("far", "l"), source().line("far"));
    fs::create_directory_symlink(outside / "far", tree_ / "q");
    const auto result = scan();
    EXPECT_EQ(counted(result), expected);
    EXPECT_EQ(result.files.size(), 6u);
    for (const UsageRecord& record : result.records) {
        EXPECT_TRUE(utf8::isValid(record.projectPath.str()) && utf8::isValid(record.sessionId.str()));
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ScanFault, testing::Values(claude, openClaw),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fernhollow
