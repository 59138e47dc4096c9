#pragma once

#include "core/ledger/Sqlite.h"
#include "core/ledger/StoredRecord.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

// Other machines' records in the ledger: packed chunks of the `shared_chunks` table, each of one
// machine and at most a day, which the table `shared_records` shows as rows to every query.
namespace fernhollow::sharedchunks {

// The table of chunks, and the index that finds a time's chunks by their first times.
inline constexpr const char* schema = R"sql(
CREATE TABLE shared_chunks(
    id INTEGER PRIMARY KEY, device INTEGER NOT NULL, first INTEGER NOT NULL, last INTEGER NOT NULL,
    records BLOB NOT NULL);
CREATE INDEX shared_chunks_by_time ON shared_chunks(first, last, device);
)sql";

// Packs records into chunks as they come, within the caller's transaction. In time order, each
// machine's chunks are full and apart; in any other order, they still hold every record.
class Writer {
public:
    explicit Writer(sqlite::Database& db);
    void add(const StoredRecord& record);
    // Writes the chunks not yet full. Records added after it begin new ones.
    void finish();

private:
    // A machine's records not yet written, and the span of their times.
    struct Waiting {
        std::vector<StoredRecord> records;
        std::int64_t earliest = 0;
        std::int64_t latest = 0;
    };

    void write(Waiting& waiting);

    sqlite::Statement insert_;
    std::unordered_map<std::int64_t, Waiting> waiting_;
};

// Takes the records of these machines, times and identities out of the chunks, within the
// caller's transaction.
void remove(sqlite::Database& db, std::span<const StoredRecord> records);

} // namespace fernhollow::sharedchunks
