#include "core/ledger/SharedChunks.h"

#include "core/ledger/RecordChunk.h"

#include <map>
#include <set>

namespace fernhollow::sharedchunks {

Writer::Writer(sqlite::Database& db)
    : insert_(db.prepare("INSERT INTO shared_chunks(device, first, last, records) VALUES(?1, ?2, ?3, ?4)")) {}

void Writer::add(const StoredRecord& record) {
    std::vector<StoredRecord>& waiting = waiting_[record.device];
    if (!waiting.empty() && (waiting.size() == recordchunk::mostRecords ||
                             record.at - waiting.front().at > recordchunk::longestSpanMs)) {
        write(waiting);
    }
    waiting.push_back(record);
}

void Writer::finish() {
    for (auto& [device, waiting] : waiting_) {
        if (!waiting.empty()) {
            write(waiting);
        }
    }
}

void Writer::write(std::vector<StoredRecord>& records) {
    insert_.bind(1, records.front().device)
        .bind(2, records.front().at)
        .bind(3, records.back().at)
        .bindBlob(4, recordchunk::encode(records))
        .run();
    records.clear();
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
            update.bind(1, id)
                .bind(2, chunk.front().at)
                .bind(3, chunk.back().at)
                .bindBlob(4, recordchunk::encode(chunk))
                .run();
        }
    }
}

} // namespace fernhollow::sharedchunks
