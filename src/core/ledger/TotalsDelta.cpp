#include "core/ledger/TotalsDelta.h"

#include <algorithm>
#include <optional>
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

// Rows of a key and six sums a statement: running a statement costs about what binding its row
// does, and a merge of years of history writes a hundred thousand totals.
constexpr int rowsPerStatement = 16;

std::string upsertSql(std::string_view table, int columns, int rows) {
    std::string sql = "INSERT INTO " + std::string(table) + " VALUES";
    for (int row = 0; row < rows; ++row) {
        sql += row == 0 ? "(" : ", (";
        for (int column = 1; column <= columns; ++column) {
            sql += '?';
            sql += std::to_string(row * columns + column);
            sql += column == columns ? ")" : ", ";
        }
    }
    return sql + " " + std::string(addSums);
}

template <std::size_t keyLength, typename Totals>
void upsert(sqlite::Database& db, std::string_view table, const Totals& totals) {
    constexpr int columns = static_cast<int>(keyLength) + 6;
    // In the table's order: a merge of years of history touches tens of thousands of its rows,
    // which would otherwise be sought at random.
    std::vector<const typename Totals::value_type*> entries;
    entries.reserve(totals.size());
    for (const auto& entry : totals) {
        const auto& sums = entry.second;
        // None: a copy that replaced another as large, in the same quarter.
        if (sums.records != 0 || sums.counts != decltype(sums.counts){}) {
            entries.push_back(&entry);
        }
    }
    std::ranges::sort(entries, {}, [](const auto* entry) { return entry->first; });
    // A pass after one appended line writes a few totals: the long statement is made only for more.
    const std::size_t inMany = entries.size() / rowsPerStatement * rowsPerStatement;
    std::optional<sqlite::Statement> many;
    if (inMany > 0) {
        many.emplace(db.prepare(upsertSql(table, columns, rowsPerStatement)));
    }
    auto one = db.prepare(upsertSql(table, columns, 1));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        sqlite::Statement& statement = i < inMany ? *many : one;
        int column = i < inMany ? static_cast<int>(i % rowsPerStatement) * columns + 1 : 1;
        const auto& [key, sums] = *entries[i];
        for (const std::int64_t part : key) {
            statement.bind(column++, part);
        }
        for (const std::int64_t count : sums.counts) {
            statement.bind(column++, count);
        }
        statement.bind(column, sums.records);
        if (i >= inMany || i % rowsPerStatement == rowsPerStatement - 1) {
            statement.run();
        }
    }
}

} // namespace

void TotalsDelta::change(const StoredRecord& record, std::int64_t sign) {
    const QuarterKey key{quarterOf(record.at), record.source,     record.model,
                         record.project,       record.priceClass, record.device};
    // The map's entries stay where they are as it grows, so the pointers stay good.
    Recent& recent = recent_[static_cast<std::size_t>(record.device) % recent_.size()];
    if (recent.quarter == nullptr || recent.quarterKey != key) {
        recent = {key, &quarters_[key],
                  &models_[{record.source, record.model, record.priceClass, record.device}]};
    }
    for (Sums* sums : {recent.quarter, recent.model}) {
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
