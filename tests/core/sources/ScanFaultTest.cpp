#include "core/model/Utf8.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/OpenClawParser.h"

#include "support/TempTree.h"
#include "support/WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace fernhollow {
namespace {

using test::TempTree;
namespace fs = std::filesystem;

using Scan = ScanResult (*)(const fs::path&, const FileTimes&, std::vector<UsageRecord>, ScanProgress*);

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
    Scan scan;
    std::string (*line)(std::string_view id);
    std::string_view projectPrefix; // put before the name of a project (agent) folder
    std::string_view sessions;      // the folder between a project (agent) folder and its logs
};

const Source claude{"Claude", CCUsageParser::parseChanged, claudeLine, "", ""};
const Source openClaw{"OpenClaw", OpenClawParser::parseChanged, openClawLine, "openclaw/", "sessions/"};

// What a scan counted as sorted "project/session#message" entries; a message counted twice shows twice.
std::vector<std::string> counted(const ScanResult& result) {
    std::vector<std::string> entries;
    for (const UsageRecord& record : result.records) {
        entries.push_back(record.projectPath.str() + "/" + record.sessionId.str() + "#" + record.messageId);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> sorted(std::vector<std::string> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.name;
}

class ScanFault : public testing::TestWithParam<Source> {
protected:
    static const Source& source() { return GetParam(); }

    std::string logPath(std::string_view project, std::string_view session) const {
        return std::string(project) + "/" + std::string(source().sessions) + std::string(session) + ".jsonl";
    }

    // Writes a log of `lines` replies, each with a message id of its own, and adds to `expected`
    // what a scan counts for it.
    fs::path writeLog(std::string_view project, std::string_view session, std::vector<std::string>& expected,
                      int lines = 1) {
        std::string content;
        for (int i = 0; i < lines; ++i) {
            const std::string id = "m" + std::to_string(nextId_++);
            content += source().line(id);
            expected.push_back(utf8::toValid(std::string(source().projectPrefix) + std::string(project)) +
                               "/" + utf8::toValid(session) + "#" + id);
        }
        return tree_.write(logPath(project, session), content);
    }

    ScanResult scan(const FileTimes& known = {}, std::vector<UsageRecord> prior = {}) const {
        return source().scan(tree_.root(), known, std::move(prior), nullptr);
    }

    TempTree tree_;
    int nextId_ = 0;
};

TEST_P(ScanFault, ARootThatIsNoFolderGivesNothing) {
    fs::create_symlink(tree_ / "missing", tree_ / "dangling");
    for (const fs::path& root : {tree_ / "missing", tree_ / "dangling", tree_.write("file.jsonl", "{}\n")}) {
        const auto result = source().scan(root, {}, {}, nullptr);
        EXPECT_TRUE(result.records.empty()) << root;
        EXPECT_TRUE(result.updatedMtimes.empty()) << root;
    }
}

TEST_P(ScanFault, NamesThatAreNotUtf8StillCountAndBecomeText) {
    std::vector<std::string> expected;
    writeLog("proj\xFF", "sess\xFE", expected);
    // Both names turn into the ones above: the two files share a key and still both count.
    writeLog("proj\xFE", "sess\xC3", expected);
    writeLog("caf\xC3\xA9", "ok", expected);
    const auto result = scan();
    EXPECT_EQ(counted(result), sorted(expected));
    EXPECT_EQ(result.updatedMtimes.size(), 3u);
    for (const UsageRecord& record : result.records) {
        EXPECT_TRUE(utf8::isValid(record.projectPath.str()) && utf8::isValid(record.sessionId.str()));
    }
}

TEST_P(ScanFault, LinkLoopsAndLinksToAParentEndTheWalkWithEveryFileOnce) {
    std::vector<std::string> expected;
    const fs::path a = writeLog("a", "s", expected, 2).parent_path();
    const fs::path b = writeLog("b", "t", expected, 2).parent_path();
    fs::create_directory_symlink(a, a / "self");
    fs::create_directory_symlink(tree_.root(), a / "up");
    fs::create_directories(b / "sub");
    fs::create_directory_symlink(b, b / "sub/back");
    const auto result = scan();
    EXPECT_EQ(counted(result), sorted(expected));
    EXPECT_EQ(result.updatedMtimes.size(), 2u);
}

TEST_P(ScanFault, AnUnreadableFileIsSkippedUntimedAndReadOnceReadable) {
    std::vector<std::string> expected;
    const fs::path open = writeLog("p", "open", expected);
    std::vector<std::string> lockedLines;
    const fs::path locked = writeLog("p", "locked", lockedLines);
    // Long written, so that only being unreadable can leave a file untimed.
    for (const fs::path& log : {open, locked}) {
        TempTree::shiftMtime(log, -std::chrono::minutes(1));
    }
    fs::permissions(locked, fs::perms::none);
    // The scan's reading threads start inside the scan, so after this, and inherit it.
    const test::WithoutPermissionOverride unprivileged;
    const auto first = scan();
    EXPECT_EQ(counted(first), expected);
    EXPECT_GT(first.updatedMtimes.at(open.string()), 0.0);
    EXPECT_EQ(first.updatedMtimes.at(locked.string()), 0.0);

    fs::permissions(locked, fs::perms::owner_read);
    expected.insert(expected.end(), lockedLines.begin(), lockedLines.end());
    const auto second = scan(first.updatedMtimes, first.records);
    EXPECT_EQ(counted(second), sorted(expected));
    EXPECT_GT(second.updatedMtimes.at(locked.string()), 0.0);
}

// No hook sits between the walk and the reads, so files are deleted while scans run, some
// between the two. Each file must count whole or not at all, and a file that stays, always.
TEST_P(ScanFault, FilesDeletedWhileScansRunCountWholeOrNotAtAll) {
    std::vector<std::string> stays;
    std::vector<std::string> goes;
    std::vector<fs::path> deleted;
    for (int i = 0; i < 300; ++i) {
        const std::string project = "p" + std::to_string(i % 3);
        if (i % 2 == 0) {
            deleted.push_back(writeLog(project, "s" + std::to_string(i), goes, 2));
        } else {
            writeLog(project, "s" + std::to_string(i), stays, 2);
        }
    }
    std::sort(stays.begin(), stays.end());
    std::set<std::string> known(stays.begin(), stays.end());
    known.insert(goes.begin(), goes.end());
    const auto expectWholeFiles = [&](const ScanResult& result) {
        const auto entries = counted(result);
        EXPECT_TRUE(std::adjacent_find(entries.begin(), entries.end()) == entries.end());
        EXPECT_TRUE(std::includes(entries.begin(), entries.end(), stays.begin(), stays.end()));
        std::map<std::string, int> linesPerFile;
        for (const std::string& entry : entries) {
            EXPECT_TRUE(known.contains(entry)) << entry;
            ++linesPerFile[entry.substr(0, entry.find('#'))];
        }
        for (const auto& [file, lines] : linesPerFile) {
            EXPECT_EQ(lines, 2) << file;
        }
    };

    std::atomic<bool> deleting{true};
    std::jthread deleter([&] {
        for (const fs::path& log : deleted) {
            fs::remove(log);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        deleting = false;
    });
    ScanResult incremental;
    while (deleting) {
        expectWholeFiles(scan());
        incremental = scan(incremental.updatedMtimes, std::move(incremental.records));
        expectWholeFiles(incremental);
    }
    deleter.join();
    const auto fresh = scan();
    EXPECT_EQ(counted(fresh), stays);
    // The incremental scan may keep what it counted of a deleted file, as for any deleted file.
    incremental = scan(incremental.updatedMtimes, std::move(incremental.records));
    expectWholeFiles(incremental);
    EXPECT_EQ(incremental.updatedMtimes.size(), fresh.updatedMtimes.size());
    for (const auto& [path, time] : fresh.updatedMtimes) {
        EXPECT_TRUE(incremental.updatedMtimes.contains(path)) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ScanFault, testing::Values(claude, openClaw),
                         [](const auto& info) { return std::string(info.param.name); });

// The remaining cases lie in the reading and the scan engine the sources share.

TEST(ClaudeScanFault, AFileGrowingWhileScansRunEndsWithExactlyItsLines) {
    constexpr int lines = 3000;
    // Some file systems keep whole seconds only: a burst of appends all bear one time.
    for (const bool wholeSeconds : {false, true}) {
        TempTree tree;
        const fs::path log = tree.write("p/s.jsonl", "");
        std::atomic<int> written{0};
        std::jthread writer([&] {
            const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            for (int i = 0; i < lines; ++i) {
                // One write per line: the file only ever ends in a whole line or in one being written.
                const std::string line = claudeLine("m" + std::to_string(i));
                EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
                if (wholeSeconds) {
                    timespec now{};
                    ::clock_gettime(CLOCK_REALTIME, &now);
                    const timespec times[2] = {{now.tv_sec, 0}, {now.tv_sec, 0}};
                    ::futimens(fd, times);
                }
                written = i + 1;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            ::close(fd);
        });
        // Counted lines must be whole and the first ones written, each once.
        const auto expectFirstLines = [&](const ScanResult& result, int atMost) {
            std::vector<int> numbers;
            for (const UsageRecord& record : result.records) {
                EXPECT_EQ(record.inputTokens + record.outputTokens, 7);
                numbers.push_back(std::stoi(record.messageId.substr(1)));
            }
            std::sort(numbers.begin(), numbers.end());
            for (std::size_t i = 0; i < numbers.size(); ++i) {
                ASSERT_EQ(numbers[i], static_cast<int>(i)) << "whole seconds: " << wholeSeconds;
            }
            EXPECT_LE(static_cast<int>(numbers.size()), atMost) << "whole seconds: " << wholeSeconds;
        };
        ScanResult result;
        while (written < lines) {
            result =
                CCUsageParser::parseChanged(tree.root(), result.updatedMtimes, std::move(result.records));
            expectFirstLines(result, written + 1); // the line being written may show before it counts
        }
        writer.join();
        result = CCUsageParser::parseChanged(tree.root(), result.updatedMtimes, std::move(result.records));
        expectFirstLines(result, lines);
        EXPECT_EQ(result.records.size(), static_cast<std::size_t>(lines))
            << "whole seconds: " << wholeSeconds;
    }
}

// Resident memory at its highest while `work` runs, above what was resident before.
template <typename Work> long peakResidentGrowthKb(const Work& work) {
    const auto statusKb = [](std::string_view field) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with(field)) {
                return std::stol(line.substr(field.size()));
            }
        }
        return -1L;
    };
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak restarts from the resident size now
    const long before = statusKb("VmRSS:");
    work();
    return statusKb("VmHWM:") - before;
}

TEST(ClaudeScanFault, AHundredMegabyteLineIsReadInBoundedMemoryAndCountedWhenComplete) {
    constexpr std::size_t megabyte = 1 << 20;
    constexpr std::size_t lineSize = 100 * megabyte;
    const std::string head =
        R"({"type":"assistant","message":{"id":"big","usage":{"input_tokens":1},"content":")";
    struct Ending {
        const char* name;
        std::string_view text;
        bool counted;
    };
    for (const Ending& ending : {Ending{"with a newline", "\"}}\n", true},
                                 Ending{"without one", "\"}}", true}, Ending{"cut short", "", false}}) {
        TempTree tree;
        {
            fs::create_directories(tree / "p");
            std::ofstream file(tree / "p/s.jsonl", std::ios::binary);
            file << claudeLine("small") << head;
            const std::string megabyteOfText(megabyte, 'x');
            for (std::size_t size = 0; size < lineSize; size += megabyte) {
                file << megabyteOfText;
            }
            file << ending.text;
        }
        ScanResult result;
        const long growthKb =
            peakResidentGrowthKb([&] { result = CCUsageParser::parseChanged(tree.root(), {}, {}); });
        std::vector<std::string> expected = {"p/s#small"};
        if (ending.counted) {
            expected.insert(expected.begin(), "p/s#big");
        }
        EXPECT_EQ(counted(result), expected) << ending.name;
        // The file's bytes and the parser's copy of the one string in them, and little more.
        EXPECT_LT(growthKb * 1024, static_cast<long>(3 * lineSize)) << ending.name;
    }
}

TEST(ClaudeScanFault, ManySmallFilesCountOnceAndAnIdleRescanOpensNone) {
    // A hundred thousand files, as a user with a year of short sessions has.
    constexpr int folders = 100;
    constexpr int filesPerFolder = 1000;
    TempTree tree;
    // Written a minute ago, so that the first scan takes every file as settled.
    timespec written{};
    ::clock_gettime(CLOCK_REALTIME, &written);
    written.tv_sec -= 60;
    const timespec times[2] = {written, written};
    for (int folder = 0; folder < folders; ++folder) {
        const fs::path path = tree / ("p" + std::to_string(folder));
        fs::create_directory(path);
        for (int file = 0; file < filesPerFolder; ++file) {
            const std::string id = std::to_string(folder * filesPerFolder + file);
            const std::string line = claudeLine(id);
            const int fd = ::open((path / (id + ".jsonl")).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            ::futimens(fd, times);
            ::close(fd);
        }
    }
    constexpr std::size_t files = folders * filesPerFolder;
    ScanProgress progress;
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {}, &progress);
    std::set<std::string> messages;
    for (const UsageRecord& record : first.records) {
        messages.insert(record.messageId);
    }
    EXPECT_EQ(first.records.size(), files);
    EXPECT_EQ(messages.size(), files);
    EXPECT_EQ(progress.filesRead, files);

    ScanProgress idle;
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records, &idle);
    EXPECT_EQ(idle.filesToRead, 0u);
    EXPECT_EQ(second.records, first.records);
}

} // namespace
} // namespace fernhollow
