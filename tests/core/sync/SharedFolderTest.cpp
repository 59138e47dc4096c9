#include "core/sync/SharedFolder.h"
#include "core/sync/SharedUsageFile.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <functional>

namespace fernhollow {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

constexpr double now = 1'780'000'000.0;
const DeviceIdentity laptop{"6F1C2A3B-0000-4000-8000-00000000000A", "laptop"};
const DeviceIdentity desktop{"6F1C2A3B-0000-4000-8000-00000000000B", "desk top"};

UsageRecord reply(std::string_view id, std::int64_t output, double at = now - 3600.0) {
    UsageRecord record;
    record.messageId = std::string(id);
    record.model = InternedString("claude-sonnet-4-5");
    record.projectPath = InternedString("-home-dev-secret-app");
    record.sessionId = InternedString("session-" + std::string(id));
    record.timestamp = at;
    record.outputTokens = output;
    return record;
}

// Records and output tokens the figures count, for one machine or (none) for all, checked
// against the quarter-hour totals so that no total drifts from the records.
std::pair<std::int64_t, std::int64_t> counted(Ledger& ledger, std::optional<std::int64_t> device) {
    ledger.setDeviceScope(device);
    std::pair<std::int64_t, std::int64_t> sums;
    for (const ModelTotal& total : ledger.modelTotals()) {
        sums.first += total.records;
        sums.second += total.sums.outputTokens;
    }
    std::int64_t quarters = 0;
    ledger.visitHistorySince(0.0, {}, {},
                             [&](const UsageRecord& record) { quarters += record.outputTokens; });
    EXPECT_EQ(quarters, sums.second);
    return sums;
}

// Two machines, each with its own home and ledger, and one folder they share.
class SharedFolderTest : public testing::Test {
public:
    TempTree tree;
    fs::path folder = tree / "Sync";
    Ledger mine{(fs::create_directories(tree / "home-a"), tree / "home-a" / "ledger.sqlite3")};
    Ledger theirs{(fs::create_directories(tree / "home-b"), tree / "home-b" / "ledger.sqlite3")};

    SharedFolderTest() { fs::create_directories(folder); }

    static void add(Ledger& ledger, std::vector<UsageRecord> records) {
        ledger.apply({UsageSource::claudeCode, RecordRule::keepLarger, std::move(records), {}, {}});
    }
    SharedFolderPass passMine(double at = now) {
        return passSharedFolder(mine, folder, laptop, at, OwnFileWrite::withNewRecords);
    }
    SharedFolderPass passTheirs(double at = now) {
        return passSharedFolder(theirs, folder, desktop, at, OwnFileWrite::withNewRecords);
    }
    fs::path fileOf(const DeviceIdentity& device) const { return folder / sharedfile::fileName(device); }
    std::string bytesOf(const DeviceIdentity& device) const { return *test::readFile(fileOf(device)); }
    void overwrite(const DeviceIdentity& device, const std::string& bytes) const {
        tree.write("Sync/" + sharedfile::fileName(device), bytes);
    }
};

TEST_F(SharedFolderTest, EachMachineCountsTheUnionOfBothLedgersOnce) {
    // "b" is a reply both machines saw (a log tree copied over), the desktop's copy the larger.
    add(mine, {reply("a", 10), reply("b", 20)});
    add(theirs, {reply("b", 25), reply("c", 40)});
    passMine();
    passTheirs();
    passMine();
    for (Ledger* ledger : {&mine, &theirs}) {
        EXPECT_EQ(counted(*ledger, std::nullopt), std::make_pair(3L, 75L));
    }
    // Each machine's own figures keep what its logs hold, the larger copy of "b" included.
    EXPECT_EQ(counted(mine, 0), std::make_pair(2L, 35L));
    EXPECT_EQ(counted(theirs, 0), std::make_pair(2L, 65L));
    const std::vector<Device> devices = mine.devices();
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].host, "desk top");
    EXPECT_EQ(devices[0].lastSeen, now);
    EXPECT_TRUE(devices[0].fileFound);

    // The file holds no path below the project and no name that no record uses.
    const std::string bytes = bytesOf(laptop);
    const auto header = std::get<sharedfile::Header>(sharedfile::decodeHeader(bytes));
    EXPECT_EQ(header.device, laptop);
    const auto blocks =
        std::get<std::vector<SharedBlock>>(sharedfile::decodeBlocks(bytes.substr(header.end)));
    ASSERT_EQ(blocks.size(), 1U);
    EXPECT_EQ(blocks[0].names,
              (std::vector<std::string>{"claude-sonnet-4-5", "app", "session-a", "session-b"}));
    EXPECT_EQ(bytes.find("secret"), std::string::npos);

    // A pass with nothing new writes nothing and reads nothing.
    const auto before = fs::last_write_time(fileOf(laptop));
    const SharedFolderPass idle = passMine(now + 3600.0);
    EXPECT_FALSE(idle.wrote);
    EXPECT_EQ(idle.filesRead, 0U);
    EXPECT_EQ(fs::last_write_time(fileOf(laptop)), before);

    // New records go out as a block appended to the file; the reader reads only that block.
    add(theirs, {reply("d", 100)});
    const std::string old = bytesOf(desktop);
    EXPECT_TRUE(passTheirs(now + 60.0).wrote);
    EXPECT_TRUE(bytesOf(desktop).starts_with(old));
    EXPECT_EQ(passMine().filesRead, 1U);
    EXPECT_EQ(counted(mine, std::nullopt), std::make_pair(4L, 175L));
}

// What sync tools do to the folder, done after both machines shared "a" (mine) and "b"
// (theirs); then the laptop's next pass.
struct FolderFault {
    const char* name;
    std::pair<std::int64_t, std::int64_t> allMachines; // records and output tokens after the pass
    std::size_t problems;
    bool desktopFileFound;
    std::function<void(SharedFolderTest&)> fault;
};

void PrintTo(const FolderFault& fault, std::ostream* out) {
    *out << fault.name;
}

class SharedFolderFaults : public SharedFolderTest, public testing::WithParamInterface<FolderFault> {};

TEST_P(SharedFolderFaults, NeverLoseOrDoubleARecord) {
    add(mine, {reply("a", 10)});
    add(theirs, {reply("b", 20)});
    passTheirs();
    passMine();
    GetParam().fault(*this);
    const SharedFolderPass pass = passMine(now + 600.0);
    EXPECT_EQ(pass.problems.size(), GetParam().problems) << (pass.problems.empty() ? "" : pass.problems[0]);
    EXPECT_EQ(counted(mine, std::nullopt), GetParam().allMachines);
    EXPECT_EQ(counted(mine, 0), std::make_pair(1L, 10L));
    ASSERT_EQ(mine.devices().size(), 1U);
    EXPECT_EQ(mine.devices()[0].fileFound, GetParam().desktopFileFound);
}

void copyAs(SharedFolderTest& t, const DeviceIdentity& device, const std::string& name) {
    fs::copy_file(t.fileOf(device), t.folder / name, fs::copy_options::overwrite_existing);
}

const FolderFault folderFaults[] = {
    FolderFault("HalfCopiedGrowth", {2, 30}, 1, true,
                [](SharedFolderTest& t) {
                    SharedFolderTest::add(t.theirs, {reply("c", 40)});
                    t.passTheirs(now + 60.0);
                    const std::string whole = t.bytesOf(desktop);
                    t.overwrite(desktop, whole.substr(0, whole.size() - 7));
                }),
    // The conflict copy's name sorts after the main file's: a skipped file holds up no other.
    FolderFault("HalfCopiedFileBeforeAWholeConflictCopy", {3, 70}, 1, true,
                [](SharedFolderTest& t) {
                    SharedFolderTest::add(t.theirs, {reply("c", 40)});
                    t.passTheirs(now + 60.0);
                    copyAs(t, desktop, "desk_top.x.sync-conflict-20261206-101010-ABCDEFG.fernhollow-usage");
                    const std::string whole = t.bytesOf(desktop);
                    t.overwrite(desktop, whole.substr(0, whole.size() - 7));
                }),
    FolderFault("ConflictCopyWithARecordTheMainFileLacks", {3, 70}, 0, true,
                [](SharedFolderTest& t) {
                    const std::string older = t.bytesOf(desktop);
                    SharedFolderTest::add(t.theirs, {reply("c", 40)});
                    t.passTheirs(now + 60.0);
                    copyAs(t, desktop, "desk_top.x.sync-conflict-20261206-101010-ABCDEFG.fernhollow-usage");
                    t.overwrite(desktop, older);
                }),
    FolderFault("ConflictCopyOfThisMachinesOwnFile", {2, 30}, 0, true,
                [](SharedFolderTest& t) {
                    copyAs(t, laptop, "laptop (conflicted copy 2026-12-06).fernhollow-usage");
                }),
    FolderFault("OldCopyReplacesANewerOne", {3, 70}, 0, true,
                [](SharedFolderTest& t) {
                    const std::string older = t.bytesOf(desktop);
                    SharedFolderTest::add(t.theirs, {reply("c", 40)});
                    t.passTheirs(now + 60.0);
                    t.passMine(now + 120.0);
                    t.overwrite(desktop, older);
                }),
    FolderFault("ClockOfTheOtherMachineADayAhead", {3, 70}, 0, true,
                [](SharedFolderTest& t) {
                    SharedFolderTest::add(t.theirs, {reply("c", 40, now - 7200.0)});
                    t.passTheirs(now + 86'400.0);
                }),
    FolderFault("FileOfANewerVersion", {2, 30}, 1, true,
                [](SharedFolderTest& t) {
                    t.tree.write("Sync/future.fernhollow-usage",
                                 "Fernhollow shared usage\nversion 2\ndevice X\nhost future\n\n");
                }),
    FolderFault("NotOursAtAllAndATemporaryWrite", {2, 30}, 1, true,
                [](SharedFolderTest& t) {
                    t.tree.write("Sync/notes.fernhollow-usage", "shopping list");
                    t.tree.write("Sync/~desk_top.tmp.fernhollow-usage", "half");
                }),
    FolderFault("MachineFileRemoved", {2, 30}, 0, false,
                [](SharedFolderTest& t) { fs::remove(t.fileOf(desktop)); }),
};

INSTANTIATE_TEST_SUITE_P(SyncTools, SharedFolderFaults, testing::ValuesIn(folderFaults),
                         [](const testing::TestParamInfo<FolderFault>& info) {
                             return std::string(info.param.name);
                         });

// A block whose frame is sound but whose records hold what no machine writes is damage, or a
// hostile file: the whole file is skipped, never a record of it taken.
TEST(SharedUsageFile, ABlockWithARecordNoMachineWritesIsRefusedWhole) {
    const StoredRecord sound{7, 0, 1'780'000'000'000, 0, 1, 2, {1, 2, 3, 0, 4}, 0};
    const std::function<void(StoredRecord&)> faults[] = {
        [](StoredRecord& r) { r.source = std::size(allUsageSources); },
        [](StoredRecord& r) { r.priceClass = priceClass::count; },
        [](StoredRecord& r) { r.session = 3; },
        [](StoredRecord& r) { r.at = INT64_MIN; },
        [](StoredRecord& r) { r.counts[4] = -1; },
    };
    const std::vector<std::string> names{"model", "project", "session"};
    EXPECT_TRUE(std::holds_alternative<std::vector<SharedBlock>>(
        sharedfile::decodeBlocks(sharedfile::encodeBlock({now, names, {sound}}))));
    for (const auto& fault : faults) {
        StoredRecord record = sound;
        fault(record);
        EXPECT_TRUE(std::holds_alternative<std::string>(
            sharedfile::decodeBlocks(sharedfile::encodeBlock({now, names, {sound, record}}))));
    }
}

TEST_F(SharedFolderTest, ARemovedMachineLeavesOnlyWhenForgottenAndSharedRecordsComeBack) {
    const DeviceIdentity third{"6F1C2A3B-0000-4000-8000-00000000000C", "server"};
    Ledger other(tree / "home-a" / "third.sqlite3");
    add(mine, {reply("a", 10)});
    add(theirs, {reply("b", 20), reply("c", 30)});
    add(other, {reply("c", 30)});
    passTheirs();
    passMine();
    passSharedFolder(other, folder, third, now, OwnFileWrite::withNewRecords);
    fs::remove(fileOf(desktop));
    passMine();
    EXPECT_EQ(counted(mine, std::nullopt), std::make_pair(3L, 60L));
    mine.forgetDevice(mine.devices()[0].id);
    passMine();
    // "c" stays: the server shares it too.
    EXPECT_EQ(counted(mine, std::nullopt), std::make_pair(2L, 40L));
}

TEST_F(SharedFolderTest, OwnFileReplacedByAnOlderCopyIsWrittenWholeAgain) {
    add(mine, {reply("a", 10)});
    passMine();
    const std::string older = bytesOf(laptop);
    add(mine, {reply("b", 20)});
    passMine(now + 600.0);
    overwrite(laptop, older);
    EXPECT_TRUE(passSharedFolder(mine, folder, laptop, now, OwnFileWrite::ifNotAsLeft).wrote);
    passTheirs();
    EXPECT_EQ(counted(theirs, std::nullopt), std::make_pair(2L, 30L));
}

// A copy of a ledger an earlier version left, in the tree.
fs::path earlierLedger(const TempTree& tree, std::string_view name) {
    fs::copy_file(FERNHOLLOW_TEST_DATA_DIR "/" + std::string(name), tree / "ledger.sqlite3");
    return tree / "ledger.sqlite3";
}

TEST(LedgerOfTheVersionBeforeMachines, KeepsEveryRecordAsThisMachinesAndSharesThem) {
    TempTree tree;
    Ledger ledger(earlierLedger(tree, "ledger-v3.sqlite3"));
    EXPECT_EQ(counted(ledger, 0), std::make_pair(5L, 2460L));
    EXPECT_EQ(counted(ledger, std::nullopt), std::make_pair(5L, 2460L));
    fs::create_directories(tree / "Sync");
    passSharedFolder(ledger, tree / "Sync", laptop, now, OwnFileWrite::ifNotAsLeft);
    Ledger other(tree / "other.sqlite3");
    passSharedFolder(other, tree / "Sync", desktop, now, OwnFileWrite::none);
    EXPECT_EQ(counted(other, std::nullopt), std::make_pair(5L, 2460L));
    EXPECT_EQ(counted(other, 0), std::make_pair(0L, 0L));
}

// Other machines' records, kept among this machine's before, move apart and are found as before.
TEST(LedgerOfTheVersionBeforeOtherMachinesRecordsApart, FindsEveryRecordAndTakesOneItsLogsHoldToo) {
    TempTree tree;
    Ledger ledger(earlierLedger(tree, "ledger-v4.sqlite3"));
    EXPECT_EQ(counted(ledger, 0), std::make_pair(2L, 35L));
    EXPECT_EQ(counted(ledger, std::nullopt), std::make_pair(4L, 175L));
    EXPECT_EQ(ledger.records({}).size(), 4U);
    // This machine's session of "a" and "b", and the desktop's of "c", not the desktop's older one.
    EXPECT_EQ(ledger.sessionsActiveSince(UsageSource::claudeCode, now - 3300.0).size(), 3U);
    UsageRecord c = reply("c", 40, now - 600.0);
    c.inputTokens = 3;
    c.projectPath = InternedString("-home-dev-app");
    c.sessionId = InternedString("s2");
    SharedFolderTest::add(ledger, {c});
    EXPECT_EQ(counted(ledger, 0), std::make_pair(3L, 75L));
    EXPECT_EQ(counted(ledger, std::nullopt), std::make_pair(4L, 175L));
}

} // namespace
} // namespace fernhollow
