#include "core/ledger/SharedChunks.h"
#include "core/ledger/RecordChunk.h"
#include "core/ledger/SharedRecordTable.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace fernhollow {
namespace {

StoredRecord stored(std::int64_t identity, std::int64_t at, std::int64_t device = 3) {
    StoredRecord record;
    record.identity = identity;
    record.source = 1;
    record.at = at;
    record.model = 7;
    record.project = 9;
    record.session = 11;
    record.counts = {1, 200, 30, 0, 40'000};
    record.device = device;
    return record;
}

std::vector<StoredRecord> roundTrip(const std::vector<StoredRecord>& records) {
    std::vector<StoredRecord> decoded;
    recordchunk::decode(recordchunk::encode(records), 3, decoded);
    return decoded;
}

TEST(RecordChunk, GivesBackEveryFieldOfEveryRecord) {
    std::vector<StoredRecord> varied{stored(-1, -4'000'000'000'000'000'000), stored(INT64_MIN, 0),
                                     stored(INT64_MAX, 4'000'000'000'000'000'000)};
    varied[1].source = 4;
    varied[1].model = 1'234'567'890'123;
    varied[1].session = 0;
    varied[1].counts = {INT64_MAX / 8, 0, 5, 5, 0};
    varied[1].priceClass = 2;
    varied[2].project = 10; // back to the first record's names but for one
    std::vector<StoredRecord> oneSession;
    for (int i = 0; i < 300; ++i) {
        oneSession.push_back(stored(i * 7919, 1'780'000'000'000 + i * 61'000));
    }
    for (const auto& records : {std::vector<StoredRecord>{}, varied, oneSession}) {
        EXPECT_EQ(roundTrip(records), records);
    }
    // A record's names and price class are kept only where they differ from the record's before it.
    std::vector<StoredRecord> twoSessions = oneSession;
    for (std::size_t i = 1; i < twoSessions.size(); i += 2) {
        twoSessions[i].session = 12;
    }
    EXPECT_EQ(roundTrip(twoSessions), twoSessions);
    EXPECT_GE(recordchunk::encode(twoSessions).size(), recordchunk::encode(oneSession).size() + 299);
}

TEST(RecordChunk, BytesNoChunkWasWrittenAsAreDamage) {
    const std::string whole = recordchunk::encode(std::vector{stored(1, 1000), stored(2, 2000)});
    const std::vector<std::string> damaged{
        whole.substr(0, whole.size() - 1),                    // cut short
        whole + '\0',                                         // a byte after the last record
        "\x7f" + whole.substr(1),                             // more records than the bytes could hold
        std::string(whole).replace(1, 1, "\x20"),             // a field no version writes
        std::string("\x01\x00", 2) + std::string(20, '\xff'), // a time longer than 64 bits
    };
    for (const std::string& bytes : damaged) {
        std::vector<StoredRecord> records;
        try {
            recordchunk::decode(bytes, 3, records);
            ADD_FAILURE() << "taken: " << testing::PrintToString(bytes);
        } catch (const sqlite::Error& error) {
            EXPECT_TRUE(error.isDamage());
        }
    }
}

// Chunks in a real database, read through the table that shows them as rows.
class SharedChunksTest : public testing::Test {
public:
    test::TempTree tree;
    sqlite::Database db{tree / "chunks.sqlite3", sqlite::Database::Mode::readWriteCreate};
    std::vector<StoredRecord> kept;

    SharedChunksTest() {
        db.execute(sharedchunks::schema);
        sharedchunks::registerRecordTable(db);
    }

    // What the table gives for a condition on its rows, as a count and a sum of identities.
    std::pair<std::int64_t, std::int64_t> select(const std::string& where) {
        auto statement = db.prepare("SELECT count(*), total(identity) FROM shared_records WHERE " + where);
        statement.step();
        const std::pair<std::int64_t, std::int64_t> found{statement.integer(0),
                                                          static_cast<std::int64_t>(statement.real(1))};
        statement.run();
        return found;
    }
    std::pair<std::int64_t, std::int64_t>
    expected(const std::function<bool(const StoredRecord&)>& takes) const {
        std::pair<std::int64_t, std::int64_t> sums;
        for (const StoredRecord& record : kept) {
            if (takes(record)) {
                ++sums.first;
                sums.second += record.identity;
            }
        }
        return sums;
    }
    // Every kind of bound on time and machine, against the records kept.
    void checkQueries();
};

TEST_F(SharedChunksTest, QueriesBoundedInTimeAndMachineFindExactlyTheirRecords) {
    // Two machines over five days, sparse then dense, so that chunks end both full and a day long.
    std::mt19937_64 random(7);
    std::int64_t at = 0;
    for (std::int64_t i = 1; i <= 3000; ++i) {
        at += i < 100 ? 7'200'000 : static_cast<std::int64_t>(random() % 120'000);
        kept.push_back(stored(i, at, 1 + static_cast<std::int64_t>(random() % 2)));
    }
    // Written in time order, as a merge writes them, and in any order.
    std::vector<StoredRecord> shuffled = kept;
    std::ranges::shuffle(shuffled, random);
    for (const auto& order : {kept, shuffled}) {
        db.execute("DELETE FROM shared_chunks");
        sharedchunks::Writer writer(db);
        for (const StoredRecord& record : order) {
            writer.add(record);
        }
        writer.finish();
        checkQueries();
    }
}

void SharedChunksTest::checkQueries() {
    const std::int64_t day = recordchunk::longestSpanMs;
    const std::int64_t middle = kept[1500].at;
    const struct {
        std::string where;
        std::function<bool(const StoredRecord&)> takes;
    } cases[] = {
        {"1", [](const StoredRecord&) { return true; }},
        {"at >= " + std::to_string(middle), [&](const StoredRecord& r) { return r.at >= middle; }},
        {"at > " + std::to_string(middle), [&](const StoredRecord& r) { return r.at > middle; }},
        {"at < " + std::to_string(middle), [&](const StoredRecord& r) { return r.at < middle; }},
        {"at = " + std::to_string(middle), [&](const StoredRecord& r) { return r.at == middle; }},
        {"at BETWEEN " + std::to_string(day / 2) + " AND " + std::to_string(day * 3 / 2),
         [&](const StoredRecord& r) { return r.at >= day / 2 && r.at <= day * 3 / 2; }},
        {"at >= " + std::to_string(middle) + ".5", [&](const StoredRecord& r) { return r.at > middle; }},
        {"at <= " + std::to_string(middle) + ".5 AND device = 2",
         [&](const StoredRecord& r) { return r.at <= middle && r.device == 2; }},
        {"at >= 'a'", [](const StoredRecord&) { return false; }},
        {"at <= 'a'", [](const StoredRecord&) { return true; }},
        {"at >= NULL", [](const StoredRecord&) { return false; }},
    };
    for (const auto& [where, takes] : cases) {
        EXPECT_EQ(select(where), expected(takes)) << where;
    }
}

TEST_F(SharedChunksTest, RemovingRecordsLeavesTheRestOfTheirChunks) {
    sharedchunks::Writer writer(db);
    for (std::int64_t i = 1; i <= 1200; ++i) {
        kept.push_back(stored(i, i * 1000, 1));
        writer.add(kept.back());
    }
    // Another machine's copy of a record at the same time and of the same identity stays.
    kept.push_back(stored(600, 600'000, 2));
    writer.add(kept.back());
    writer.finish();
    std::vector<StoredRecord> going;
    for (std::int64_t i = 1; i <= 1200; ++i) {
        if (i % 3 == 0 || (i > 512 && i <= 1024)) { // a whole chunk goes, and a third of the others
            going.push_back(kept[static_cast<std::size_t>(i - 1)]);
        }
    }
    sharedchunks::remove(db, going);
    std::erase_if(kept, [&](const StoredRecord& r) { return std::ranges::find(going, r) != going.end(); });
    EXPECT_EQ(select("1"), expected([](const StoredRecord&) { return true; }));
    EXPECT_EQ(select("device = 2"), std::make_pair(std::int64_t{1}, std::int64_t{600}));
    auto chunks = db.prepare("SELECT count(*) FROM shared_chunks");
    chunks.step();
    EXPECT_EQ(chunks.integer(0), 3);
    chunks.run();
}

TEST_F(SharedChunksTest, RemovingARecordFindsItAmongChunksOfTheSameTimes) {
    // Two merges of one machine's records of the same seconds: two chunks over the same span.
    for (const std::int64_t first : {1, 11}) {
        sharedchunks::Writer writer(db);
        for (std::int64_t i = first; i < first + 10; ++i) {
            kept.push_back(stored(i, (i - first + 1) * 1000 + (first == 1 ? 0 : 500), 1));
            writer.add(kept.back());
        }
        writer.finish();
    }
    sharedchunks::remove(db, std::vector{kept[14]});
    kept.erase(kept.begin() + 14);
    EXPECT_EQ(select("1"), expected([](const StoredRecord&) { return true; }));
}

TEST_F(SharedChunksTest, ADamagedChunkFailsTheQueryAsADamagedFile) {
    db.prepare("INSERT INTO shared_chunks(device, first, last, records) VALUES(1, 0, 0, ?1)")
        .bindBlob(1, "\x05garbage")
        .run();
    try {
        select("at >= 0");
        ADD_FAILURE() << "a damaged chunk was read";
    } catch (const sqlite::Error& error) {
        EXPECT_TRUE(error.isDamage()) << error.what();
    }
}

} // namespace
} // namespace fernhollow
