#include "platform/store/PersistenceStore.h"
#include "core/common/AtomicFile.h"
#include "support/FileModes.h"
#include "support/SaveFaults.h"
#include "support/TempTree.h"
#include "support/WithEnv.h"
#include "support/WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fernhollow {
namespace {

PersistenceStore::State stateWith(int records) {
    PersistenceStore::State state;
    for (int i = 0; i < records; ++i) {
        state.records.push_back(
            UsageRecord{Uuid::random(), "m" + std::to_string(i), 1762351407.0, "x", 1, 2, 0, 0, 0, "p", "s"});
    }
    state.fileMtimes["/p/s.jsonl"] = 1.5;
    return state;
}

class PersistenceStoreTest : public testing::Test {
protected:
    void TearDown() override { PersistenceStore::clear(); }
};

TEST_F(PersistenceStoreTest, SizeOnDiskFollowsSavesAndClears) {
    EXPECT_EQ(PersistenceStore::sizeOnDisk(), 0);
    const auto state = stateWith(3);
    PersistenceStore::save(state);
    EXPECT_EQ(PersistenceStore::sizeOnDisk(), static_cast<std::int64_t>(encodeState(state).size()));
    EXPECT_EQ(PersistenceStore::load(), state);
    PersistenceStore::clear();
    EXPECT_EQ(PersistenceStore::sizeOnDisk(), 0);
    EXPECT_FALSE(PersistenceStore::load());
    PersistenceStore::clear(); // nothing there: nothing happens
}

TEST_F(PersistenceStoreTest, ASaveThatFinishesLateNeverReplacesANewerSnapshot) {
    const auto olderTicket = PersistenceStore::nextSaveTicket();
    const auto newerTicket = PersistenceStore::nextSaveTicket();
    PersistenceStore::save(stateWith(2), newerTicket);
    PersistenceStore::save(stateWith(1), olderTicket);
    EXPECT_EQ(PersistenceStore::load()->records.size(), 2u);
    PersistenceStore::save(stateWith(5));
    EXPECT_EQ(PersistenceStore::load()->records.size(), 5u);
}

TEST_F(PersistenceStoreTest, AnOldSchemaIsIgnoredAndReplacedByTheNextSave) {
    auto old = stateWith(1);
    old.schemaVersion = 2;
    ASSERT_EQ(replaceFileAtomically(PersistenceStore::stateURL(), encodeState(old)), SaveOutcome::written);
    EXPECT_FALSE(PersistenceStore::load());
    PersistenceStore::save(stateWith(1));
    EXPECT_EQ(PersistenceStore::load()->schemaVersion, 3);
}

// Neither wall may cost the state saved before: the file stays byte for byte with nothing
// half-written beside it, and the first save after the wall is gone is written.
TEST_F(PersistenceStoreTest, ASaveThatFailsKeepsThePreviousFileWhole) {
    const auto path = PersistenceStore::stateURL();
    for (const auto fault : {test::SaveFault::readOnlyFolder, test::SaveFault::fullDisk}) {
        SCOPED_TRACE(test::name(fault));
        const auto previous = stateWith(2);
        PersistenceStore::save(previous);
        const auto saved = test::readFile(path);
        const auto next = stateWith(40);
        ASSERT_GT(encodeState(next).size(), 2 * saved->size());
        test::whileSavingFails(fault, path.parent_path(), saved->size(),
                               [&] { PersistenceStore::save(next); });
        EXPECT_EQ(test::readFile(path), saved);
        EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
        EXPECT_EQ(PersistenceStore::load(), previous);
        PersistenceStore::save(next);
        EXPECT_EQ(PersistenceStore::load(), next);
    }
}

// Whatever the umask, the state file, its lock and every folder made on the way to them are
// their owner's alone, and the owner can save again: a lock without the owner's write bit
// could not be opened by the next save.
TEST_F(PersistenceStoreTest, SavesOwnerOnlyWhateverTheUmask) {
    for (const mode_t mask : {0000, 0277}) {
        SCOPED_TRACE(mask);
        const test::TempTree home;
        const test::WithEnv dataHome("XDG_DATA_HOME", (home / "share/deeper").string());
        {
            const test::WithUmask umask(mask);
            PersistenceStore::save(stateWith(1));
        }
        EXPECT_TRUE(std::filesystem::exists(home / "share/deeper/Fernhollow/state.json.lock"));
        EXPECT_EQ(test::notOwnerOnly(home / "share"), std::vector<std::string>{});
        const auto next = stateWith(2);
        {
            const test::WithoutPermissionOverride asOwner;
            PersistenceStore::save(next);
        }
        EXPECT_EQ(PersistenceStore::load(), next);
    }
}

} // namespace
} // namespace fernhollow
