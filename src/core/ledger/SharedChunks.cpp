#include "core/ledger/SharedChunks.h"

#include "core/ledger/RecordChunk.h"

#include <algorithm>
#include <map>
#include <set>

namespace fernhollow::sharedchunks {
namespace {

// Binds a chunk's first and last times and its packed records as parameters 2 to 4. Its bounds
// are those of its records in any order: a chunk whose bounds missed a record would hide it
// from every query of that record's time.
void bindChunk(sqlite::Statement& statement, std::span<const StoredRecord> records) {
    const auto [first, last] = std::ranges::minmax(records, {}, &StoredRecord::at);
    statement.bind(2, first.at).bind(3, last.at).bindBlob(4, recordchunk::encode(records));
}

} // namespace

Writer::Writer(sqlite::Database& db)
    : insert_(db.prepare("INSERT INTO shared_chunks(device, first, last, records) VALUES(?1, ?2, ?3, ?4)")) {}

void Writer::add(const StoredRecord& record) {
    Waiting& waiting = waiting_[record.device];
    if (!waiting.records.empty() &&
        (waiting.records.size() == recordchunk::mostRecords ||
         std::max(waiting.latest, record.at) - std::min(waiting.earliest, record.at) >
             recordchunk::longestSpanMs)) {
        write(waiting);
    }
    if (waiting.records.empty()) {
        waiting.earliest = waiting.latest = record.at;
    }
    waiting.earliest = std::min(waiting.earliest, record.at);
    waiting.latest = std::max(waiting.latest, record.at);
    waiting.records.push_back(record);
}

void Writer::finish() {
    for (auto& [device, waiting] : waiting_) {
        if (!waiting.records.empty()) {
            write(waiting);
        }
    }
}

void Writer::write(Waiting& waiting) {
    insert_.bind(1, waiting.records.front().device);
    bindChunk(insert_, waiting.records);
    insert_.run();
    waiting.records.clear();
}

void remove(sqlite::Database& db, std::span<const StoredRecord> records) {
    if (records.empty()) {
        return;
    }
    // Each chunk that may hold one of them is read and written once, whatever the number of its
    // records that go: a copied log tree claims hundreds of thousands at once.
    auto candidates = db.prepare("SELECT id FROM shared_chunks WHERE first BETWEEN ?1 AND ?2 AND last >= ?2 "
                                 "AND device = ?3");
    std::map<std::int64_t, std::set<std::pair<std::int64_t, std::int64_t>>> goingByChunk;
    for (const StoredRecord& record : records) {
        candidates.bind(1, record.at - recordchunk::longestSpanMs).bind(2, record.at).bind(3, record.device);
        while (candidates.step()) {
            goingByChunk[candidates.integer(0)].emplace(record.at, record.identity);
        }
    }
    auto select = db.prepare("SELECT device, records FROM shared_chunks WHERE id = ?1");
    auto update = db.prepare("UPDATE shared_chunks SET first = ?2, last = ?3, records = ?4 WHERE id = ?1");
    auto drop = db.prepare("DELETE FROM shared_chunks WHERE id = ?1");
    std::vector<StoredRecord> chunk;
    for (const auto& [id, going] : goingByChunk) {
        chunk.clear();
        select.bind(1, id);
        while (select.step()) {
            recordchunk::decode(select.blob(1), select.integer(0), chunk);
        }
        const auto removed = std::erase_if(chunk, [&](const StoredRecord& record) {
            return going.contains({record.at, record.identity});
        });
        if (removed == 0) {
            continue;
        }
        if (chunk.empty()) {
            drop.bind(1, id).run();
        } else {
            update.bind(1, id);
            bindChunk(update, chunk);
            update.run();
        }
    }
}

} // namespace fernhollow::sharedchunks
