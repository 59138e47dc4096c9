#include "core/ledger/SharedRecordTable.h"

#include "core/ledger/RecordChunk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace fernhollow::sharedchunks {
namespace {

constexpr auto tableName = "shared_records";
// The columns in the order `storedColumns` names them.
constexpr auto columnsSql =
    "CREATE TABLE x(identity INTEGER, source INTEGER, at INTEGER, model INTEGER, project INTEGER, "
    "session INTEGER, input INTEGER, output INTEGER, cache_write INTEGER, cache_write_1h INTEGER, "
    "cache_read INTEGER, price_class INTEGER, device INTEGER)";
constexpr int atColumn = 2;
constexpr int deviceColumn = 12;

// Which constraints a plan takes, in the order their values come to `filter`; a time of `at =`
// comes once and bounds both ways.
enum Plan : int { exactTime = 1, earliest = 2, latest = 4, oneDevice = 8 };

struct Table {
    sqlite3_vtab base{}; // first, as SQLite reaches the rest through it
    sqlite::Database* db = nullptr;
};

struct Cursor {
    sqlite3_vtab_cursor base{};
    std::optional<sqlite::Statement> chunks;
    std::vector<StoredRecord> records; // those of the chunk read last that the bounds take
    std::size_t next = 0;
    std::int64_t from = std::numeric_limits<std::int64_t>::min();
    std::int64_t to = std::numeric_limits<std::int64_t>::max();
    std::optional<std::int64_t> device;
    std::int64_t rowid = 0;
    bool atEnd = true;
};

Table& tableOf(sqlite3_vtab* table) {
    return *reinterpret_cast<Table*>(table);
}

Cursor& cursorOf(sqlite3_vtab_cursor* cursor) {
    return *reinterpret_cast<Cursor*>(cursor);
}

// Errors cannot cross SQLite's C frames: they are told through the table, with their code, so a
// damaged chunk fails the statement as a damaged file does.
template <typename Step> int guarded(sqlite3_vtab* table, Step&& step) {
    try {
        step();
        return SQLITE_OK;
    } catch (const sqlite::Error& error) {
        sqlite3_free(table->zErrMsg);
        table->zErrMsg = sqlite3_mprintf("%s", error.what());
        return error.code();
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    }
}

int connect(sqlite3* db, void* database, int, const char* const*, sqlite3_vtab** table, char**) {
    if (const int rc = sqlite3_declare_vtab(db, columnsSql); rc != SQLITE_OK) {
        return rc;
    }
    auto* made = new Table;
    made->db = static_cast<sqlite::Database*>(database);
    *table = &made->base;
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table) {
    delete &tableOf(table);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    int exact = -1;
    int lower = -1;
    int upper = -1;
    int device = -1;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (!constraint.usable) {
            continue;
        }
        const unsigned char op = constraint.op;
        int* slot = nullptr;
        if (constraint.iColumn == atColumn) {
            slot = op == SQLITE_INDEX_CONSTRAINT_EQ                                       ? &exact
                   : op == SQLITE_INDEX_CONSTRAINT_GE || op == SQLITE_INDEX_CONSTRAINT_GT ? &lower
                   : op == SQLITE_INDEX_CONSTRAINT_LE || op == SQLITE_INDEX_CONSTRAINT_LT ? &upper
                                                                                          : nullptr;
        } else if (constraint.iColumn == deviceColumn && op == SQLITE_INDEX_CONSTRAINT_EQ) {
            slot = &device;
        }
        if (slot != nullptr && *slot < 0) {
            *slot = i;
        }
    }
    if (exact >= 0) {
        lower = upper = -1;
    }
    // SQLite checks every constraint again: the bounds only narrow the chunks read.
    int plan = 0;
    int argument = 0;
    for (const auto& [constraint, step] :
         {std::pair{exact, Plan::exactTime}, std::pair{lower, Plan::earliest}, std::pair{upper, Plan::latest},
          std::pair{device, Plan::oneDevice}}) {
        if (constraint >= 0) {
            info->aConstraintUsage[constraint].argvIndex = ++argument;
            plan |= step;
        }
    }
    info->idxNum = plan;
    const bool bounded = (plan & Plan::exactTime) != 0 || ((plan & Plan::earliest) && (plan & Plan::latest));
    info->estimatedRows = bounded ? 100 : (plan & (Plan::earliest | Plan::latest)) != 0 ? 100'000 : 1'000'000;
    info->estimatedCost =
        static_cast<double>(info->estimatedRows) / ((plan & Plan::oneDevice) != 0 ? 2.0 : 1.0);
    return SQLITE_OK;
}

int open(sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
    *cursor = &(new Cursor)->base;
    return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cursor) {
    delete &cursorOf(cursor);
    return SQLITE_OK;
}

// A bound's time as a whole millisecond no tighter than it; none for a value that is not a number,
// which SQLite weighs itself.
std::optional<std::int64_t> boundOf(sqlite3_value* value, bool roundUp) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return sqlite3_value_int64(value);
    case SQLITE_FLOAT: {
        const double time =
            roundUp ? std::ceil(sqlite3_value_double(value)) : std::floor(sqlite3_value_double(value));
        constexpr double limit = 9e18;
        return std::isnan(time) ? std::nullopt
                                : std::optional(static_cast<std::int64_t>(std::clamp(time, -limit, limit)));
    }
    default:
        return std::nullopt;
    }
}

// Reads chunk after chunk until one holds a record the bounds take, or none is left.
void advance(Cursor& cursor) {
    while (cursor.next >= cursor.records.size()) {
        if (!cursor.chunks->step()) {
            cursor.atEnd = true;
            return;
        }
        cursor.records.clear();
        cursor.next = 0;
        recordchunk::decode(cursor.chunks->blob(1), cursor.chunks->integer(0), cursor.records);
        std::erase_if(cursor.records, [&](const StoredRecord& record) {
            return record.at < cursor.from || record.at > cursor.to;
        });
    }
}

int filter(sqlite3_vtab_cursor* base, int plan, const char*, int, sqlite3_value** values) {
    Cursor& cursor = cursorOf(base);
    return guarded(base->pVtab, [&] {
        cursor.from = std::numeric_limits<std::int64_t>::min();
        cursor.to = std::numeric_limits<std::int64_t>::max();
        cursor.device.reset();
        int argument = 0;
        if ((plan & Plan::exactTime) != 0) {
            cursor.from = boundOf(values[argument], false).value_or(cursor.from);
            cursor.to = boundOf(values[argument++], true).value_or(cursor.to);
        }
        if ((plan & Plan::earliest) != 0) {
            cursor.from = boundOf(values[argument++], false).value_or(cursor.from);
        }
        if ((plan & Plan::latest) != 0) {
            cursor.to = boundOf(values[argument++], true).value_or(cursor.to);
        }
        if ((plan & Plan::oneDevice) != 0 && sqlite3_value_type(values[argument]) == SQLITE_INTEGER) {
            cursor.device = sqlite3_value_int64(values[argument]);
        }
        // A chunk spans at most a day: those that can hold the bounds' records begin within a day
        // before the earliest.
        const std::int64_t firstFrom =
            cursor.from < std::numeric_limits<std::int64_t>::min() + recordchunk::longestSpanMs
                ? cursor.from
                : cursor.from - recordchunk::longestSpanMs;
        cursor.chunks.reset();
        cursor.chunks.emplace(tableOf(base->pVtab)
                                  .db->prepare(std::string("SELECT device, records FROM shared_chunks WHERE "
                                                           "first BETWEEN ?1 AND ?2 AND last >= ?3") +
                                               (cursor.device ? " AND device = ?4" : "")));
        cursor.chunks->bind(1, firstFrom).bind(2, cursor.to).bind(3, cursor.from);
        if (cursor.device) {
            cursor.chunks->bind(4, *cursor.device);
        }
        cursor.records.clear();
        cursor.next = 0;
        cursor.rowid = 0;
        cursor.atEnd = false;
        advance(cursor);
    });
}

int next(sqlite3_vtab_cursor* base) {
    Cursor& cursor = cursorOf(base);
    return guarded(base->pVtab, [&] {
        ++cursor.next;
        ++cursor.rowid;
        advance(cursor);
    });
}

int eof(sqlite3_vtab_cursor* cursor) {
    return cursorOf(cursor).atEnd ? 1 : 0;
}

int column(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int index) {
    const StoredRecord& record = cursorOf(cursor).records[cursorOf(cursor).next];
    const std::int64_t values[] = {record.identity,  record.source,    record.at,        record.model,
                                   record.project,   record.session,   record.counts[0], record.counts[1],
                                   record.counts[2], record.counts[3], record.counts[4], record.priceClass,
                                   record.device};
    sqlite3_result_int64(context, values[index]);
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* id) {
    *id = cursorOf(cursor).rowid;
    return SQLITE_OK;
}

const sqlite3_module module = [] {
    sqlite3_module made{};
    // Eponymous only: the table is there in every connection that registers it, never created.
    made.xConnect = connect;
    made.xBestIndex = bestIndex;
    made.xDisconnect = disconnect;
    made.xDestroy = disconnect;
    made.xOpen = open;
    made.xClose = close;
    made.xFilter = filter;
    made.xNext = next;
    made.xEof = eof;
    made.xColumn = column;
    made.xRowid = rowid;
    return made;
}();

} // namespace

void registerRecordTable(sqlite::Database& db) {
    if (const int rc = sqlite3_create_module_v2(db.handle(), tableName, &module, &db, nullptr);
        rc != SQLITE_OK) {
        db.fail(rc);
    }
}

} // namespace fernhollow::sharedchunks
