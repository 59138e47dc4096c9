#include "core/ledger/TotalsDelta.h"

#include <algorithm>
#include <string>
#include <vector>

namespace fernhollow {
namespace {

constexpr std::string_view addSums = "ON CONFLICT DO UPDATE SET input = input + excluded.input, "
                                     "output = output + excluded.output, "
                                     "cache_write = cache_write + excluded.cache_write, "
                                     "cache_write_1h = cache_write_1h + excluded.cache_write_1h, "
                                     "cache_read = cache_read + excluded.cache_read, "
                                     "records = records + excluded.records";

template <std::size_t keyLength, typename Totals>
void upsert(sqlite::Database& db, std::string_view table, const Totals& totals) {
    std::string sql = "INSERT INTO " + std::string(table) + " VALUES(";
    for (int column = 1; column <= static_cast<int>(keyLength) + 6; ++column) {
        sql += "?" + std::to_string(column) + (column == static_cast<int>(keyLength) + 6 ? ") " : ", ");
    }
    auto statement = db.prepare(sql + std::string(addSums));
    // In the table's order: a merge of years of history touches tens of thousands of its rows,
    // which would otherwise be sought at random.
    std::vector<const typename Totals::value_type*> entries;
    entries.reserve(totals.size());
    for (const auto& entry : totals) {
        entries.push_back(&entry);
    }
    std::ranges::sort(entries, {}, [](const auto* entry) { return entry->first; });
    for (const auto* entry : entries) {
        const auto& [key, sums] = *entry;
        if (sums.records == 0 && sums.counts == decltype(sums.counts){}) {
            continue; // a copy that replaced another as large, in the same quarter
        }
        int column = 1;
        for (const std::int64_t part : key) {
            statement.bind(column++, part);
        }
        for (const std::int64_t count : sums.counts) {
            statement.bind(column++, count);
        }
        statement.bind(column, sums.records).run();
    }
}

} // namespace

void TotalsDelta::change(const StoredRecord& record, std::int64_t sign) {
    Sums& quarter = quarters_[{quarterOf(record.at), record.source, record.model, record.project,
                               record.priceClass, record.device}];
    Sums& model = models_[{record.source, record.model, record.priceClass, record.device}];
    for (Sums* sums : {&quarter, &model}) {
        for (std::size_t i = 0; i < record.counts.size(); ++i) {
            sums->counts[i] += sign * record.counts[i];
        }
        sums->records += sign;
    }
}

void TotalsDelta::writeTo(sqlite::Database& db) const {
    upsert<6>(db, "quarters", quarters_);
    upsert<4>(db, "model_totals", models_);
    auto dropEmptied =
        db.prepare("DELETE FROM quarters WHERE quarter = ?1 AND source = ?2 AND model = ?3 AND "
                   "project = ?4 AND price_class = ?5 AND device = ?6 AND records = 0");
    for (const auto& [key, sums] : quarters_) {
        if (sums.records < 0) {
            for (int column = 0; column < 6; ++column) {
                dropEmptied.bind(column + 1, key[static_cast<std::size_t>(column)]);
            }
            dropEmptied.run();
        }
    }
}

} // namespace fernhollow
