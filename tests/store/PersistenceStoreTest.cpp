#include "store/PersistenceStore.h"
#include "store/AtomicFile.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

TEST_F(PersistenceStoreTest, KeepsStateJsonInTheUsersDataFolder) {
    EXPECT_EQ(PersistenceStore::stateURL(),
              std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "Fernhollow" / "state.json");
    EXPECT_TRUE(std::filesystem::is_directory(PersistenceStore::stateURL().parent_path()));
}

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

} // namespace
} // namespace fernhollow
