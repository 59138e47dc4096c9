#include "core/ledger/Ledger.h"

#include "core/common/RadixSort.h"
#include "core/ledger/RecordIdentity.h"
#include "core/ledger/SharedChunks.h"
#include "core/ledger/SharedRecordTable.h"
#include "core/ledger/TotalsDelta.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iterator>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fernhollow {
namespace {

// A record's quarter-hour, in SQL, for the row a trigger sees as `row` (old or new).
std::string quarterSql(std::string_view row) {
    const std::string at = std::string(row) + ".at";
    return "(" + at + " - (" + at + " % 900000 + 900000) % 900000) / 900000";
}

// The statements a trigger runs to add a record's counts to the totals (sign "+", for `new`)
// or take them away (sign "-", for `old`).
std::string totalsChange(std::string_view row, char sign) {
    const std::string r(row);
    std::string counts;
    for (const char* column : {"input", "output", "cache_write", "cache_write_1h", "cache_read"}) {
        counts += std::string(column) + " = " + column + " " + sign + " " + r + "." + column + ", ";
    }
    counts += std::string("records = records ") + sign + " 1";
    if (sign == '-') {
        const std::string quarter = " WHERE quarter = " + quarterSql(r) + " AND source = " + r +
                                    ".source AND model = " + r + ".model AND project = " + r +
                                    ".project AND price_class = " + r + ".price_class";
        // A quarter emptied by a replaced copy would only take room; it goes here, one row, rather
        // than by a search of every quarter after each pass.
        return "UPDATE quarters SET " + counts + quarter + ";\nDELETE FROM quarters" + quarter +
               " AND records = 0;\nUPDATE model_totals SET " + counts + " WHERE source = " + r +
               ".source AND model = " + r + ".model AND price_class = " + r + ".price_class;\n";
    }
    const std::string values = r + ".input, " + r + ".output, " + r + ".cache_write, " + r +
                               ".cache_write_1h, " + r + ".cache_read, 1";
    std::string upsert;
    for (const char* column : {"input", "output", "cache_write", "cache_write_1h", "cache_read", "records"}) {
        upsert += std::string(upsert.empty() ? "" : ", ") + column + " = " + column + " + excluded." + column;
    }
    return "INSERT INTO quarters VALUES(" + quarterSql(r) + ", " + r + ".source, " + r + ".model, " + r +
           ".project, " + r + ".price_class, " + values + ") ON CONFLICT DO UPDATE SET " + upsert + ";\n" +
           "INSERT INTO model_totals VALUES(" + r + ".source, " + r + ".model, " + r + ".price_class, " +
           values + ") ON CONFLICT DO UPDATE SET " + upsert + ";\n";
}

using Migration = std::function<void(sqlite::Database&)>;

Migration sql(std::string statements) {
    return [statements = std::move(statements)](sqlite::Database& db) { db.execute(statements); };
}

void packSharedRecords(sqlite::Database& db);

// Each entry brings a ledger of the version before it to its own version, so any older ledger
// is brought up to date step by step. Append; never edit a step that has shipped.
const std::vector<Migration>& migrations() {
    static const std::vector<Migration> steps{
        // 1: records by identity with their price class, names shared by records, quarter-hour
        // and per-model totals kept by triggers, and what each log's last read saw.
        sql(std::string(R"sql(
CREATE TABLE names(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
CREATE TABLE records(
    identity INTEGER PRIMARY KEY,
    source INTEGER NOT NULL,
    at INTEGER NOT NULL,
    model INTEGER NOT NULL,
    project INTEGER NOT NULL,
    session INTEGER NOT NULL,
    input INTEGER NOT NULL,
    output INTEGER NOT NULL,
    cache_write INTEGER NOT NULL,
    cache_write_1h INTEGER NOT NULL,
    cache_read INTEGER NOT NULL,
    price_class INTEGER NOT NULL);
CREATE INDEX records_by_time ON records(at);
CREATE INDEX records_by_session ON records(session, at);
CREATE TABLE quarters(
    quarter INTEGER NOT NULL, source INTEGER NOT NULL, model INTEGER NOT NULL, project INTEGER NOT NULL,
    price_class INTEGER NOT NULL,
    input INTEGER NOT NULL, output INTEGER NOT NULL, cache_write INTEGER NOT NULL,
    cache_write_1h INTEGER NOT NULL, cache_read INTEGER NOT NULL, records INTEGER NOT NULL,
    PRIMARY KEY(quarter, source, model, project, price_class)) WITHOUT ROWID;
CREATE TABLE model_totals(
    source INTEGER NOT NULL, model INTEGER NOT NULL, price_class INTEGER NOT NULL,
    input INTEGER NOT NULL, output INTEGER NOT NULL, cache_write INTEGER NOT NULL,
    cache_write_1h INTEGER NOT NULL, cache_read INTEGER NOT NULL, records INTEGER NOT NULL,
    PRIMARY KEY(source, model, price_class)) WITHOUT ROWID;
CREATE TABLE log_files(
    path TEXT PRIMARY KEY, source INTEGER NOT NULL, size INTEGER NOT NULL, mtime REAL NOT NULL,
    read_end INTEGER NOT NULL, window_hash INTEGER NOT NULL) WITHOUT ROWID;
)sql") + "CREATE TRIGGER record_added AFTER INSERT ON records BEGIN\n" +
            totalsChange("new", '+') + "END;\nCREATE TRIGGER record_removed AFTER DELETE ON records BEGIN\n" +
            totalsChange("old", '-') + "END;\nCREATE TRIGGER record_changed AFTER UPDATE ON records BEGIN\n" +
            totalsChange("old", '-') + totalsChange("new", '+') + "END;\n"),
        // 2: the plan windows' use as each agent last told it.
        sql(R"sql(
CREATE TABLE rate_limits(
    agent INTEGER NOT NULL, plan_window INTEGER NOT NULL, used_percent REAL NOT NULL, resets_at REAL,
    window_minutes INTEGER, observed_at REAL NOT NULL,
    PRIMARY KEY(agent, plan_window)) WITHOUT ROWID;
)sql"),
        // 3: the totals are kept by the code that writes the records, a pass's changes summed
        // first; triggers cost three statements for every record written.
        sql("DROP TRIGGER record_added; DROP TRIGGER record_removed; DROP TRIGGER record_changed;"),
        // 4: the machine each record came from (0: this one) and totals by machine; the machines
        // and their files met in the shared folder; this machine's records waiting to be shared.
        sql(R"sql(
ALTER TABLE records ADD COLUMN device INTEGER NOT NULL DEFAULT 0;
CREATE TABLE quarters_by_device(
    quarter INTEGER NOT NULL, source INTEGER NOT NULL, model INTEGER NOT NULL, project INTEGER NOT NULL,
    price_class INTEGER NOT NULL, device INTEGER NOT NULL,
    input INTEGER NOT NULL, output INTEGER NOT NULL, cache_write INTEGER NOT NULL,
    cache_write_1h INTEGER NOT NULL, cache_read INTEGER NOT NULL, records INTEGER NOT NULL,
    PRIMARY KEY(quarter, source, model, project, price_class, device)) WITHOUT ROWID;
INSERT INTO quarters_by_device SELECT quarter, source, model, project, price_class, 0, input, output,
    cache_write, cache_write_1h, cache_read, records FROM quarters;
DROP TABLE quarters;
ALTER TABLE quarters_by_device RENAME TO quarters;
CREATE TABLE model_totals_by_device(
    source INTEGER NOT NULL, model INTEGER NOT NULL, price_class INTEGER NOT NULL, device INTEGER NOT NULL,
    input INTEGER NOT NULL, output INTEGER NOT NULL, cache_write INTEGER NOT NULL,
    cache_write_1h INTEGER NOT NULL, cache_read INTEGER NOT NULL, records INTEGER NOT NULL,
    PRIMARY KEY(source, model, price_class, device)) WITHOUT ROWID;
INSERT INTO model_totals_by_device SELECT source, model, price_class, 0, input, output, cache_write,
    cache_write_1h, cache_read, records FROM model_totals;
DROP TABLE model_totals;
ALTER TABLE model_totals_by_device RENAME TO model_totals;
CREATE TABLE devices(id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, host TEXT NOT NULL,
    last_seen REAL NOT NULL);
CREATE TABLE shared_files(
    path TEXT PRIMARY KEY, device INTEGER NOT NULL, size INTEGER NOT NULL, mtime REAL NOT NULL,
    read_end INTEGER NOT NULL, window_hash INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE own_share(path TEXT NOT NULL, size INTEGER NOT NULL, mtime REAL NOT NULL, blocks INTEGER NOT NULL);
CREATE TABLE unshared(identity INTEGER PRIMARY KEY);
)sql"),
        // 5: other machines' records apart, in time order: a merge of years of them appends, where
        // among this machine's they landed at random and two indexes were built again after them.
        // Their sessions' spans bound a search by session, which no index serves.
        sql(R"sql(
CREATE TABLE shared_records(
    at INTEGER NOT NULL, identity INTEGER NOT NULL, source INTEGER NOT NULL, model INTEGER NOT NULL,
    project INTEGER NOT NULL, session INTEGER NOT NULL, input INTEGER NOT NULL, output INTEGER NOT NULL,
    cache_write INTEGER NOT NULL, cache_write_1h INTEGER NOT NULL, cache_read INTEGER NOT NULL,
    price_class INTEGER NOT NULL, device INTEGER NOT NULL,
    PRIMARY KEY(at, identity)) WITHOUT ROWID;
INSERT INTO shared_records SELECT at, identity, source, model, project, session, input, output, cache_write,
    cache_write_1h, cache_read, price_class, device FROM records WHERE device != 0 ORDER BY at, identity;
DELETE FROM records WHERE device != 0;
CREATE TABLE shared_sessions(session INTEGER PRIMARY KEY, first INTEGER NOT NULL, last INTEGER NOT NULL);
INSERT INTO shared_sessions SELECT session, min(at), max(at) FROM shared_records GROUP BY session;
CREATE VIEW every_record AS
    SELECT identity, source, at, model, project, session, input, output, cache_write, cache_write_1h,
        cache_read, price_class, device FROM records
    UNION ALL
    SELECT identity, source, at, model, project, session, input, output, cache_write, cache_write_1h,
        cache_read, price_class, device FROM shared_records;
)sql"),
        // 6: other machines' records packed, a few hundred to a row; `shared_records` then names
        // the table that shows them as rows, so every query reads them as before.
        packSharedRecords,
    };
    return steps;
}

// The records' indexes as the first step made them.
constexpr auto recordIndexes =
    "CREATE INDEX records_by_time ON records(at); CREATE INDEX records_by_session ON records(session, at);";

// The counts, then the price class, as recordFromRow reads them.
constexpr std::string_view countColumns =
    "input, output, cache_write, cache_write_1h, cache_read, price_class";

std::int64_t millisecondsOf(double seconds) {
    const double ms = std::round(seconds * 1000.0);
    // Beyond any calendar (1e15 s), yet within 64 bits: keeps the conversion defined for absurd input.
    constexpr double limit = 4e18;
    return static_cast<std::int64_t>(std::clamp(std::isnan(ms) ? 0.0 : ms, -limit, limit));
}

// " AND source IN (…)" for the sources named; nothing when none is, which takes them all.
std::string sourceSql(std::span<const UsageSource> sources) {
    if (sources.empty()) {
        return {};
    }
    std::string sql = " AND source IN (";
    for (const UsageSource source : sources) {
        sql += std::to_string(static_cast<std::int64_t>(source));
        sql += source == sources.back() ? ")" : ", ";
    }
    return sql;
}

// The file is made before SQLite opens it, so it is owner-only from its first byte; SQLite
// gives its journal files the same mode. A file that exists is left as it is: changing its mode
// at every opening wrote its inode each time, a half-millisecond of the status line's budget.
void createOwnerOnly(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // Whatever the umask: a mask that took the owner's write would leave a ledger nobody can update.
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

// Switching a new file to WAL takes its write lock while holding a read lock, which SQLite
// refuses at once instead of waiting (the wait could deadlock): another process making the same
// ledger is then inside its first transaction. Its commit ends that, so the switch is tried again.
void switchToWal(sqlite::Database& db) {
    for (int attempt = 1;; ++attempt) {
        try {
            db.execute("PRAGMA journal_mode = WAL");
            return;
        } catch (const sqlite::Error& error) {
            if (error.code() != SQLITE_BUSY || attempt == 1000) {
                throw;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

// A log's state from the size, time, read end and window hash at `first` of a row.
LogFileState logFileStateAt(const sqlite::Statement& row, int first) {
    return {static_cast<std::uint64_t>(row.integer(first)), row.real(first + 1),
            static_cast<std::uint64_t>(row.integer(first + 2)),
            static_cast<std::uint64_t>(row.integer(first + 3))};
}

// The states of rows of path, size, time, read end and window hash.
LogFileStates statesOf(sqlite::Statement& select) {
    LogFileStates states;
    while (select.step()) {
        states.emplace(std::string(select.text(0)), logFileStateAt(select, 1));
    }
    return states;
}

// Takes a later `copy` of the record `kept` by the rule. Among machines, the one that brought the
// record first keeps it, whoever's copy is larger.
void settleCopy(StoredRecord& kept, const StoredRecord& copy, RecordRule rule) {
    if (rule == RecordRule::replace || supersedes(copy, kept)) {
        const std::int64_t device = kept.device;
        kept = copy;
        kept.device = device;
    }
}

// A log holds every copy of a reply and a resumed session repeats its parent's: a batch is
// settled among itself first, by the rule, so each record is looked up and written once. In
// identity order, the records' table grows at its end or near its other rows, page by page
// rather than at random.
void settleByIdentity(std::vector<StoredRecord>& stored, RecordRule rule) {
    std::stable_sort(stored.begin(), stored.end(),
                     [](const StoredRecord& a, const StoredRecord& b) { return a.identity < b.identity; });
    // Compacted in place: a first pass over a large tree holds hundreds of thousands of rows.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (kept == 0 || stored[kept - 1].identity != stored[i].identity) {
            stored[kept++] = stored[i];
        } else {
            settleCopy(stored[kept - 1], stored[i], rule);
        }
    }
    stored.resize(kept);
}

// Every copy of a record lies within an hour of the others: a reply streams for minutes, and a
// resumed session or a copied log tree repeats lines with their times. So the copies kept of
// records are found among the rows of the hours around them, read in time order, a run of
// overlapping hours at a time: a lookup each would touch a page of the ledger each.
constexpr std::int64_t copiesSpanMs = 3'600'000;

using TimeRanges = std::vector<std::pair<std::int64_t, std::int64_t>>;

TimeRanges hoursAround(std::vector<std::int64_t> times) {
    radixSort(std::span(times), [](std::int64_t time) { return time; });
    TimeRanges ranges;
    for (std::size_t first = 0; first < times.size();) {
        std::size_t last = first;
        while (last + 1 < times.size() && times[last + 1] - times[last] <= 2 * copiesSpanMs) {
            ++last;
        }
        ranges.emplace_back(times[first] - copiesSpanMs, times[last] + copiesSpanMs);
        first = last + 1;
    }
    return ranges;
}

// Steps `select`, whose ?1 and ?2 bound the time, over each range; `row` takes its rows.
void visitRows(const TimeRanges& ranges, sqlite::Statement& select,
               const std::function<void(const sqlite::Statement&)>& row) {
    for (const auto& [from, to] : ranges) {
        select.bind(1, from).bind(2, to);
        while (select.step()) {
            row(select);
        }
    }
}

// Calls `found` for each row of `select` over the ranges whose identity, its first column, is
// one of `identities` (in order), with its index there.
void matchRows(const TimeRanges& ranges, sqlite::Statement& select, std::span<const std::int64_t> identities,
               const std::function<void(std::size_t, const sqlite::Statement&)>& found) {
    visitRows(ranges, select, [&](const sqlite::Statement& row) {
        const auto it = std::ranges::lower_bound(identities, row.integer(0));
        if (it != identities.end() && *it == row.integer(0)) {
            found(static_cast<std::size_t>(it - identities.begin()), row);
        }
    });
}

// The columns of a whole stored record, in the order `storedFromRow` reads them.
constexpr std::string_view storedColumns = "identity, source, at, model, project, session, input, output, "
                                           "cache_write, cache_write_1h, cache_read, price_class, device";

// The columns and values of a row that `bindStored` binds.
std::string storedValues() {
    return "(" + std::string(storedColumns) +
           ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)";
}

void bindStored(sqlite::Statement& statement, const StoredRecord& record) {
    statement.bind(1, record.identity)
        .bind(2, record.source)
        .bind(3, record.at)
        .bind(4, record.model)
        .bind(5, record.project)
        .bind(6, record.session);
    for (std::size_t i = 0; i < record.counts.size(); ++i) {
        statement.bind(7 + static_cast<int>(i), record.counts[i]);
    }
    statement.bind(12, record.priceClass).bind(13, record.device);
}

StoredRecord storedFromRow(const sqlite::Statement& row) {
    return {row.integer(0),
            row.integer(1),
            row.integer(2),
            row.integer(3),
            row.integer(4),
            row.integer(5),
            {row.integer(6), row.integer(7), row.integer(8), row.integer(9), row.integer(10)},
            row.integer(11),
            row.integer(12)};
}

void packSharedRecords(sqlite::Database& db) {
    db.execute(sharedchunks::schema);
    sharedchunks::Writer writer(db);
    // In time order, as the table keeps them; the writer keeps each machine's apart.
    auto select = db.prepare("SELECT " + std::string(storedColumns) + " FROM shared_records");
    while (select.step()) {
        writer.add(storedFromRow(select));
    }
    writer.finish();
    db.execute("DROP TABLE shared_records");
}

} // namespace

Ledger::Ledger(const std::filesystem::path& path)
    : db_((createOwnerOnly(path), path), sqlite::Database::Mode::readWriteCreate) {
    // WAL lets the panel read while a pass writes, and the report run beside the app. With
    // NORMAL sync a crash loses at most the last commit, never consistency.
    switchToWal(db_);
    db_.execute("PRAGMA synchronous = NORMAL");
    // A statement that replaces rows keeps a statement journal; on disk, a first pass over a large
    // tree wrote gigabytes to it. In memory, with a cache that holds a pass's pages, the same pass
    // writes what the ledger keeps.
    db_.execute("PRAGMA temp_store = MEMORY");
    db_.execute("PRAGMA cache_size = -65536");
    db_.execute("PRAGMA journal_size_limit = 4194304");
    // A checkpoint copies every page the journal holds into the file: after SQLite's 1,000 pages,
    // a pass that happened to run it wrote 900 KB where the others wrote 32 KB. After 32, a few
    // passes' pages, most of them the same ones, go at a time.
    db_.execute("PRAGMA wal_autocheckpoint = 32");
    sharedchunks::registerRecordTable(db_);
    if (userVersion() < schemaVersion) {
        sqlite::Transaction transaction(db_);
        // Read again under the write lock: another connection may have migrated meanwhile.
        const std::int64_t version = userVersion();
        if (version < schemaVersion) {
            for (std::int64_t step = version; step < schemaVersion; ++step) {
                migrations()[static_cast<std::size_t>(step)](db_);
            }
            db_.execute("PRAGMA user_version = " + std::to_string(schemaVersion));
        }
        transaction.commit();
    }
    if (const std::int64_t version = userVersion(); version > schemaVersion) {
        throw sqlite::Error(SQLITE_CANTOPEN, path.string() +
                                                 " was written by a newer Fernhollow (ledger version " +
                                                 std::to_string(version) + ")");
    }
}

std::int64_t Ledger::userVersion() {
    auto statement = db_.prepare("PRAGMA user_version");
    std::int64_t version = 0;
    if (statement.step()) {
        version = statement.integer(0);
    }
    statement.run();
    return version;
}

std::int64_t Ledger::nameId(const InternedString& text) {
    if (const auto it = idsByName_.find(text.identity()); it != idsByName_.end()) {
        return it->second;
    }
    // Prepared once: a merge meets tens of thousands of sessions' names, and preparing the
    // statements cost more than running them.
    if (!addName_) {
        addName_.emplace(
            db_.prepare("INSERT INTO names(text) VALUES(?1) ON CONFLICT(text) DO NOTHING RETURNING id"));
        findName_.emplace(db_.prepare("SELECT id FROM names WHERE text = ?1"));
    }
    std::int64_t id = 0;
    for (sqlite::Statement* statement : {&*addName_, &*findName_}) {
        statement->bind(1, std::string_view(text));
        if (statement->step()) {
            id = statement->integer(0);
            statement->run();
            break;
        }
    }
    idsByName_.emplace(text.identity(), id);
    namesById_.emplace(id, text);
    return id;
}

const InternedString& Ledger::nameOf(std::int64_t id) {
    if (const auto it = namesById_.find(id); it != namesById_.end()) {
        return it->second;
    }
    auto select = db_.prepare("SELECT text FROM names WHERE id = ?1");
    select.bind(1, id);
    InternedString text;
    if (select.step()) {
        text = InternedString(select.text(0));
    }
    select.run();
    idsByName_.emplace(text.identity(), id);
    return namesById_.emplace(id, text).first->second;
}

LogFileStates Ledger::fileStates(UsageSource source) {
    auto select =
        db_.prepare("SELECT path, size, mtime, read_end, window_hash FROM log_files WHERE source = ?1");
    select.bind(1, static_cast<std::int64_t>(source));
    return statesOf(select);
}

void Ledger::appendStored(std::vector<StoredRecord>& stored, UsageSource source,
                          std::span<const UsageRecord> records) {
    for (const UsageRecord& record : records) {
        stored.push_back({recordIdentity(source, record),
                          static_cast<std::int64_t>(source),
                          millisecondsOf(record.timestamp),
                          nameId(record.model),
                          nameId(record.projectPath),
                          nameId(record.sessionId),
                          {record.inputTokens, record.outputTokens, record.cacheCreationInputTokens,
                           // The 1-hour part is priced as at most the whole: kept so, sums price as
                           // their records do.
                           std::min(record.cacheCreation1hTokens, record.cacheCreationInputTokens),
                           record.cacheReadInputTokens},
                          static_cast<std::int64_t>(record.priceClass)});
    }
}

void Ledger::put(std::span<const StoredRecord> records, RecordRule rule, bool sighted) {
    const std::string values = " INTO records" + storedValues();
    // Most records of a pass are new: each is tried as new first, one search of the table, and
    // looked up only when it is there already.
    auto add = db_.prepare("INSERT" + values + " ON CONFLICT(identity) DO NOTHING");
    auto replace = db_.prepare("INSERT OR REPLACE" + values);
    auto find = db_.prepare("SELECT " + std::string(storedColumns) + " FROM records WHERE identity = ?1");
    std::optional<sqlite::Statement> queue;
    if (sighted && ownShare()) {
        queue.emplace(db_.prepare("INSERT OR IGNORE INTO unshared VALUES(?1)"));
    }
    std::vector<std::size_t> added;
    std::vector<std::pair<StoredRecord, StoredRecord>> replaced; // what was kept, what replaced it
    for (std::size_t i = 0; i < records.size(); ++i) {
        const StoredRecord& incoming = records[i];
        bindStored(add, incoming);
        add.run();
        std::int64_t device = incoming.device;
        if (db_.changes() != 0) {
            added.push_back(i);
        } else {
            find.bind(1, incoming.identity);
            find.step();
            const StoredRecord kept = storedFromRow(find);
            while (find.step()) {
            }
            const bool takes = rule == RecordRule::replace ? incoming != kept : supersedes(incoming, kept);
            StoredRecord record = takes ? incoming : kept;
            // This machine's logs make a record this machine's; among other machines the one
            // that brought it first keeps it, so a record never moves between them by itself.
            record.device = incoming.device == 0 ? 0 : kept.device;
            // Rewriting a row with the values it holds would still write its pages.
            if (record == kept) {
                continue;
            }
            bindStored(replace, record);
            replace.run();
            replaced.emplace_back(kept, record);
            device = record.device;
        }
        if (queue && device == 0) {
            queue->bind(1, incoming.identity).run();
        }
    }
    // Summed in time order, where a record's totals are mostly the last one's: in identity order
    // each of a large merge's records would look up its totals at random, a cache miss each.
    std::ranges::sort(added, {}, [&](std::size_t i) { return records[i].at; });
    TotalsDelta totals;
    for (const std::size_t i : added) {
        totals.add(records[i]);
    }
    for (const auto& [kept, record] : replaced) {
        totals.remove(kept);
        totals.add(record);
    }
    totals.writeTo(db_);
}

void Ledger::claimFromOtherMachines(std::span<const StoredRecord> records, bool sighted) {
    auto any = db_.prepare("SELECT EXISTS(SELECT 1 FROM shared_chunks)");
    any.step();
    const bool othersKept = any.integer(0) != 0;
    any.run();
    if (!othersKept) {
        return;
    }
    auto select = db_.prepare("SELECT " + std::string(storedColumns) +
                              " FROM shared_records WHERE at BETWEEN ?1 AND ?2");
    std::vector<std::int64_t> identities;
    std::vector<std::int64_t> times;
    for (const StoredRecord& record : records) {
        identities.push_back(record.identity);
        times.push_back(record.at);
    }
    std::vector<StoredRecord> claimed;
    matchRows(hoursAround(std::move(times)), select, identities,
              [&](std::size_t, const sqlite::Statement& row) { claimed.push_back(storedFromRow(row)); });
    if (claimed.empty()) {
        return;
    }
    sharedchunks::remove(db_, claimed);
    TotalsDelta totals;
    for (StoredRecord& record : claimed) {
        totals.remove(record);
        record.device = 0;
    }
    totals.writeTo(db_);
    std::ranges::sort(claimed, {}, &StoredRecord::identity);
    put(claimed, RecordRule::keepLarger, sighted);
}

std::size_t Ledger::recordsHeld() {
    auto held = db_.prepare("SELECT coalesce(sum(records), 0) FROM model_totals WHERE device = 0");
    held.step();
    const auto count = static_cast<std::size_t>(held.integer(0));
    held.run();
    return count;
}

bool Ledger::setRecordIndexesAsideFor(std::size_t incoming, std::size_t held) {
    if (incoming < 50'000 || held * 2 > incoming) {
        return false;
    }
    db_.execute("DROP INDEX records_by_time; DROP INDEX records_by_session;");
    return true;
}

void Ledger::putSighted(std::vector<StoredRecord>& stored, RecordRule rule) {
    settleByIdentity(stored, rule);
    const bool indexesAside = setRecordIndexesAsideFor(stored.size(), recordsHeld());
    claimFromOtherMachines(stored, true);
    put(stored, rule, true);
    if (indexesAside) {
        db_.execute(recordIndexes);
    }
}

void Ledger::putFileStates(const LedgerBatch& batch) {
    const auto source = static_cast<std::int64_t>(batch.source);
    auto putFile = db_.prepare("INSERT OR REPLACE INTO log_files VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    for (const auto& [path, state] : batch.files) {
        putFile.bind(1, path)
            .bind(2, source)
            .bind(3, static_cast<std::int64_t>(state.size))
            .bind(4, state.mtime)
            .bind(5, static_cast<std::int64_t>(state.readEnd))
            .bind(6, static_cast<std::int64_t>(state.windowHash))
            .run();
    }
    auto dropFile = db_.prepare("DELETE FROM log_files WHERE path = ?1 AND source = ?2");
    for (const std::string& path : batch.goneFiles) {
        dropFile.bind(1, path).bind(2, source).run();
    }
}

void Ledger::apply(LedgerBatch batch) {
    if (batch.records.empty() && batch.files.empty() && batch.goneFiles.empty()) {
        return;
    }
    sqlite::Transaction transaction(db_);
    std::vector<StoredRecord> stored;
    stored.reserve(batch.records.size());
    appendStored(stored, batch.source, batch.records);
    batch.records = {};
    putSighted(stored, batch.rule);
    putFileStates(batch);
    transaction.commit();
}

void Ledger::forgetFileStates() {
    db_.execute("DELETE FROM log_files");
}

void Ledger::applyAsRead(LedgerBatch batch,
                         const std::function<void(const RecordSink&, LedgerBatch& batch)>& read) {
    // Enough to write rows near one another in identity order, few enough that the last of them,
    // written after the reading, take a moment: a part of 16,384 puts several rows in each leaf of
    // the records' table it touches, where one of 4,096 put one or two. Each part is judged by
    // apply's own rule, so a part this small keeps the records' indexes: grown while the logs are
    // read, they cost about as much as built after the records, which would leave the other cores
    // idle meanwhile.
    constexpr std::size_t recordsPerWrite = 16384;
    std::optional<sqlite::Transaction> transaction;
    // Each log's records become rows as they come, into memory kept from write to write: gathered
    // as records in fresh memory for each write, they cost the thread that writes a page fault every
    // few records.
    std::vector<StoredRecord> pending;
    read(
        [&](std::vector<UsageRecord> records) {
            if (records.empty()) {
                return;
            }
            // Begun before the first name is written.
            if (!transaction) {
                transaction.emplace(db_);
            }
            appendStored(pending, batch.source, records);
            if (pending.size() >= recordsPerWrite) {
                putSighted(pending, batch.rule);
                pending.clear();
            }
        },
        batch);
    if (!transaction) {
        apply(std::move(batch));
        return;
    }
    // The records returned come after those handed over, in log order.
    appendStored(pending, batch.source, batch.records);
    batch.records = {};
    putSighted(pending, batch.rule);
    putFileStates(batch);
    transaction->commit();
}

void Ledger::forget() {
    {
        sqlite::Transaction transaction(db_);
        db_.execute(
            "DELETE FROM records; DELETE FROM quarters; DELETE FROM model_totals; DELETE FROM log_files; "
            "DELETE FROM names; DELETE FROM rate_limits; DELETE FROM devices; DELETE FROM shared_files; "
            "DELETE FROM unshared; DELETE FROM own_share; DELETE FROM shared_chunks; DELETE FROM "
            "shared_sessions;");
        transaction.commit();
    }
    idsByName_.clear();
    namesById_.clear();
    // Gives the pages back to the file system, so the forgotten history is gone from the disk too.
    db_.execute("VACUUM");
}

UsageRecord Ledger::recordFromRow(sqlite::Statement& row, int firstCount, double timestamp) {
    UsageRecord record;
    record.timestamp = timestamp;
    record.inputTokens = row.integer(firstCount);
    record.outputTokens = row.integer(firstCount + 1);
    record.cacheCreationInputTokens = row.integer(firstCount + 2);
    record.cacheCreation1hTokens = row.integer(firstCount + 3);
    record.cacheReadInputTokens = row.integer(firstCount + 4);
    record.priceClass = static_cast<PriceClass>(row.integer(firstCount + 5));
    return record;
}

void Ledger::visitHistorySince(double from, std::span<const double> cuts,
                               std::span<const UsageSource> sources,
                               const std::function<void(const UsageRecord&)>& visit) {
    const std::int64_t fromMs = millisecondsOf(from);
    std::set<std::int64_t> split;
    for (const double cut : cuts) {
        const std::int64_t ms = millisecondsOf(cut);
        if (ms % quarterMs != 0 && ms >= fromMs) {
            split.insert(quarterOf(ms));
        }
    }
    if (fromMs % quarterMs != 0) {
        split.insert(quarterOf(fromMs));
    }
    auto quarters = db_.prepare("SELECT quarter, model, project, " + std::string(countColumns) +
                                " FROM quarters WHERE quarter >= ?1" + sourceSql(sources) + deviceSql());
    quarters.bind(1, quarterOf(fromMs));
    while (quarters.step()) {
        const std::int64_t quarter = quarters.integer(0);
        if (split.contains(quarter)) {
            continue;
        }
        UsageRecord record = recordFromRow(quarters, 3, static_cast<double>(quarter * quarterMs) / 1000.0);
        record.model = nameOf(quarters.integer(1));
        record.projectPath = nameOf(quarters.integer(2));
        visit(record);
    }
    auto records =
        db_.prepare("SELECT at, model, project, session, " + std::string(countColumns) +
                    " FROM every_record WHERE at >= ?1 AND at < ?2" + sourceSql(sources) + deviceSql());
    for (const std::int64_t quarter : split) {
        records.bind(1, std::max(fromMs, quarter * quarterMs)).bind(2, (quarter + 1) * quarterMs);
        while (records.step()) {
            UsageRecord record = recordFromRow(records, 4, static_cast<double>(records.integer(0)) / 1000.0);
            record.model = nameOf(records.integer(1));
            record.projectPath = nameOf(records.integer(2));
            record.sessionId = nameOf(records.integer(3));
            visit(record);
        }
    }
}

std::vector<UsageRecord> Ledger::sessionsActiveSince(UsageSource source, double since) {
    const std::string columns = "SELECT at, model, project, session, " + std::string(countColumns);
    const std::string where = " WHERE source = ?1" + deviceSql() + " AND session IN live";
    // Other machines' records are found by time alone: their sessions' spans say from when.
    auto select = db_.prepare("WITH live(session) AS (SELECT session FROM every_record WHERE at >= ?2 AND "
                              "source = ?1" +
                              deviceSql() + ") " + columns + " FROM records" + where + " UNION ALL " +
                              columns + " FROM shared_records" + where +
                              " AND at >= (SELECT min(first) FROM shared_sessions WHERE session IN live)"
                              " ORDER BY at");
    select.bind(1, static_cast<std::int64_t>(source)).bind(2, millisecondsOf(since));
    return recordsOf(select);
}

std::vector<UsageRecord> Ledger::recordsOf(sqlite::Statement& select) {
    std::vector<UsageRecord> records;
    while (select.step()) {
        UsageRecord& record =
            records.emplace_back(recordFromRow(select, 4, static_cast<double>(select.integer(0)) / 1000.0));
        record.model = nameOf(select.integer(1));
        record.projectPath = nameOf(select.integer(2));
        record.sessionId = nameOf(select.integer(3));
    }
    return records;
}

std::vector<ModelTotal> Ledger::modelTotals() {
    auto select = db_.prepare("SELECT source, model, records, " + std::string(countColumns) +
                              ", device FROM model_totals WHERE records > 0" + deviceSql() +
                              " ORDER BY source, model, price_class, device");
    std::vector<ModelTotal> totals;
    while (select.step()) {
        ModelTotal total{static_cast<UsageSource>(select.integer(0)), recordFromRow(select, 3, 0.0),
                         select.integer(2), select.integer(9)};
        total.sums.model = nameOf(select.integer(1));
        totals.push_back(std::move(total));
    }
    return totals;
}

std::map<UsageSource, std::int64_t> Ledger::recordCounts() {
    std::map<UsageSource, std::int64_t> counts;
    for (const UsageSource source : allUsageSources) {
        counts[source] = 0;
    }
    for (const ModelTotal& total : modelTotals()) {
        counts[total.source] += total.records;
    }
    return counts;
}

std::optional<std::string> Ledger::filterSql(const RecordFilter& filter) {
    std::string sql = " WHERE at >= " + std::to_string(millisecondsOf(filter.from)) + " AND at < " +
                      std::to_string(millisecondsOf(filter.to)) + sourceSql(filter.sources) + deviceSql();
    if (filter.session) {
        auto select = db_.prepare("SELECT id FROM names WHERE text = ?1");
        select.bind(1, std::string_view(*filter.session));
        if (!select.step()) {
            return std::nullopt; // a session the ledger never saw has no records
        }
        sql += " AND session = " + std::to_string(select.integer(0));
        select.run();
    }
    return sql;
}

std::vector<UsageRecord> Ledger::records(const RecordFilter& filter) {
    const auto where = filterSql(filter);
    if (!where) {
        return {};
    }
    auto select = db_.prepare("SELECT at, model, project, session, " + std::string(countColumns) +
                              " FROM every_record" + *where + " ORDER BY at");
    return recordsOf(select);
}

std::vector<SessionTotal> Ledger::sessionTotals(const RecordFilter& filter) {
    std::vector<SessionTotal> totals;
    const auto where = filterSql(filter);
    if (!where) {
        return totals;
    }
    auto select = db_.prepare(
        "SELECT source, session, project, model, min(at), max(at), count(*), sum(input), sum(output), "
        "sum(cache_write), sum(cache_write_1h), sum(cache_read), price_class FROM every_record" +
        *where + " GROUP BY source, session, project, model, price_class ORDER BY min(at)");
    while (select.step()) {
        SessionTotal& total = totals.emplace_back();
        total.source = static_cast<UsageSource>(select.integer(0));
        total.sums = recordFromRow(select, 7, static_cast<double>(select.integer(4)) / 1000.0);
        total.sums.sessionId = nameOf(select.integer(1));
        total.sums.projectPath = nameOf(select.integer(2));
        total.sums.model = nameOf(select.integer(3));
        total.last = static_cast<double>(select.integer(5)) / 1000.0;
        total.records = select.integer(6);
    }
    return totals;
}

std::optional<LogFileState> Ledger::fileState(UsageSource source, const std::string& path) {
    auto select = db_.prepare(
        "SELECT size, mtime, read_end, window_hash FROM log_files WHERE path = ?1 AND source = ?2");
    select.bind(1, path).bind(2, static_cast<std::int64_t>(source));
    std::optional<LogFileState> state;
    if (select.step()) {
        state = logFileStateAt(select, 0);
        select.run();
    }
    return state;
}

std::vector<ModelTotal> Ledger::modelTotalsSince(double from) {
    const std::int64_t fromMs = millisecondsOf(from);
    const std::int64_t firstWhole = quarterOf(fromMs) + (fromMs % quarterMs != 0 ? 1 : 0);
    const std::string sums =
        "sum(input), sum(output), sum(cache_write), sum(cache_write_1h), sum(cache_read)";
    const std::string groups = " GROUP BY source, model, price_class, device";
    auto quarters =
        db_.prepare("SELECT source, model, sum(records), " + sums +
                    ", price_class, device FROM quarters WHERE quarter >= ?1" + deviceSql() + groups);
    quarters.bind(1, firstWhole);
    auto split = db_.prepare("SELECT source, model, count(*), " + sums +
                             ", price_class, device FROM every_record WHERE at >= ?1 AND at < ?2" +
                             deviceSql() + groups);
    split.bind(1, fromMs).bind(2, firstWhole * quarterMs);
    std::vector<ModelTotal> totals;
    for (sqlite::Statement* select : {&quarters, &split}) {
        while (select->step()) {
            ModelTotal total{static_cast<UsageSource>(select->integer(0)), recordFromRow(*select, 3, 0.0),
                             select->integer(2), select->integer(9)};
            total.sums.model = nameOf(select->integer(1));
            totals.push_back(std::move(total));
        }
    }
    return totals;
}

std::vector<UsageRecord> Ledger::uncounted(UsageSource source, std::vector<UsageRecord> records) {
    std::vector<std::int64_t> times;
    times.reserve(records.size());
    for (const UsageRecord& record : records) {
        times.push_back(millisecondsOf(record.timestamp));
    }
    auto select = db_.prepare("SELECT identity FROM every_record WHERE at BETWEEN ?1 AND ?2");
    std::unordered_set<std::int64_t> counted;
    visitRows(hoursAround(std::move(times)), select,
              [&](const sqlite::Statement& row) { counted.insert(row.integer(0)); });
    std::erase_if(
        records, [&](const UsageRecord& record) { return counted.contains(recordIdentity(source, record)); });
    return records;
}

void Ledger::recordRateLimits(std::span<const RateLimit> limits) {
    if (limits.empty()) {
        return;
    }
    sqlite::Transaction transaction(db_);
    auto upsert = db_.prepare(R"sql(
INSERT INTO rate_limits VALUES(?1, ?2, ?3, ?4, ?5, ?6)
ON CONFLICT DO UPDATE SET used_percent = excluded.used_percent, resets_at = excluded.resets_at,
    window_minutes = excluded.window_minutes, observed_at = excluded.observed_at
WHERE excluded.observed_at >= rate_limits.observed_at
  AND (excluded.used_percent, excluded.resets_at, excluded.window_minutes, excluded.observed_at)
      IS NOT (rate_limits.used_percent, rate_limits.resets_at, rate_limits.window_minutes,
              rate_limits.observed_at))sql");
    for (const RateLimit& limit : limits) {
        upsert.bind(1, static_cast<std::int64_t>(limit.agent))
            .bind(2, static_cast<std::int64_t>(limit.window))
            .bind(3, limit.usedPercent)
            .bind(6, limit.observedAt);
        // A parameter left unbound is NULL: the agent did not say.
        if (limit.resetsAt) {
            upsert.bind(4, *limit.resetsAt);
        }
        if (limit.windowMinutes) {
            upsert.bind(5, *limit.windowMinutes);
        }
        upsert.run();
    }
    transaction.commit();
}

std::vector<RateLimit> Ledger::rateLimits() {
    auto select =
        db_.prepare("SELECT agent, plan_window, used_percent, resets_at, window_minutes, observed_at "
                    "FROM rate_limits ORDER BY agent, plan_window");
    std::vector<RateLimit> limits;
    while (select.step()) {
        RateLimit& limit = limits.emplace_back();
        limit.agent = static_cast<UsageSource>(select.integer(0));
        limit.window = static_cast<RateWindow>(select.integer(1));
        limit.usedPercent = select.real(2);
        if (!select.isNull(3)) {
            limit.resetsAt = select.real(3);
        }
        if (!select.isNull(4)) {
            limit.windowMinutes = select.integer(4);
        }
        limit.observedAt = select.real(5);
    }
    return limits;
}

void Ledger::setLockWait(int milliseconds) {
    sqlite3_busy_timeout(db_.handle(), milliseconds);
}

void Ledger::readThroughMemoryMap() {
    // SQLite caps this at its own build's limit; a ledger larger than the map is read as before past it.
    db_.execute("PRAGMA mmap_size = 1073741824");
}

std::int64_t Ledger::recordCountOfSessions(const std::set<std::string>& sessions) {
    // By the session index alone: a session's name tells its source well enough to count.
    auto count =
        db_.prepare("SELECT count(*) FROM records WHERE session = (SELECT id FROM names WHERE text = ?1)");
    std::int64_t total = 0;
    for (const std::string& session : sessions) {
        count.bind(1, std::string_view(session));
        if (count.step()) {
            total += count.integer(0);
        }
        count.run();
    }
    return total;
}

std::string Ledger::deviceSql() const {
    return deviceScope_ ? " AND device = " + std::to_string(*deviceScope_) : std::string();
}

std::int64_t Ledger::deviceRow(const std::string& uuid, const std::string& host) {
    auto upsert =
        db_.prepare("INSERT INTO devices(uuid, host, last_seen) VALUES(?1, ?2, 0) "
                    "ON CONFLICT(uuid) DO UPDATE SET host = excluded.host WHERE host != excluded.host");
    upsert.bind(1, std::string_view(uuid)).bind(2, std::string_view(host)).run();
    auto select = db_.prepare("SELECT id FROM devices WHERE uuid = ?1");
    select.bind(1, std::string_view(uuid));
    std::int64_t id = 0;
    if (select.step()) {
        id = select.integer(0);
        select.run();
    }
    return id;
}

std::vector<Device> Ledger::devices() {
    auto select =
        db_.prepare("SELECT id, uuid, host, last_seen, "
                    "EXISTS(SELECT 1 FROM shared_files WHERE device = devices.id) FROM devices ORDER BY id");
    std::vector<Device> devices;
    while (select.step()) {
        devices.push_back({select.integer(0), std::string(select.text(1)), std::string(select.text(2)),
                           select.real(3), select.integer(4) != 0});
    }
    return devices;
}

void Ledger::forgetDevice(std::int64_t device) {
    if (device == 0) {
        return; // this machine's records leave only with "Forget history…"
    }
    sqlite::Transaction transaction(db_);
    auto run = [&](std::string_view sql) { db_.prepare(sql).bind(1, device).run(); };
    run("DELETE FROM shared_chunks WHERE device = ?1");
    run("DELETE FROM quarters WHERE device = ?1");
    run("DELETE FROM model_totals WHERE device = ?1");
    run("DELETE FROM devices WHERE id = ?1");
    db_.execute("DELETE FROM shared_files; DELETE FROM shared_sessions; INSERT INTO shared_sessions SELECT "
                "session, min(at), max(at) FROM shared_records GROUP BY session;");
    transaction.commit();
}

LogFileStates Ledger::sharedFileStates() {
    auto select = db_.prepare("SELECT path, size, mtime, read_end, window_hash FROM shared_files");
    return statesOf(select);
}

void Ledger::mergeShared(const std::function<std::optional<SharedBatch>()>& next) {
    sqlite::Transaction transaction(db_);
    // Other machines' records wait to be merged together, settled among themselves first: years of
    // them then land in time order, appended, rather than file after file at random among those
    // merged before. Merged in parts past this many, so a folder larger still is never held whole.
    constexpr std::size_t mostWaiting = std::size_t{1} << 21;
    std::vector<StoredRecords> waiting;
    std::size_t waitingRecords = 0;
    std::size_t merged = 0;
    while (std::optional<SharedBatch> batch = next()) {
        const std::int64_t device = batch->device;
        std::vector<StoredRecords> blocks = takeBatch(std::move(*batch));
        if (device == 0) {
            // A copy of this machine's own file: its records are this machine's.
            std::vector<StoredRecord> records;
            for (const StoredRecords& block : blocks) {
                records.insert(records.end(), block.begin(), block.end());
            }
            merged += records.size();
            settleByIdentity(records, RecordRule::keepLarger);
            claimFromOtherMachines(records, false);
            put(records, RecordRule::keepLarger, false);
            continue;
        }
        for (StoredRecords& block : blocks) {
            merged += block.size();
            waitingRecords += block.size();
            waiting.push_back(std::move(block));
        }
        if (waitingRecords >= mostWaiting) {
            mergeOtherMachines(std::move(waiting));
            waiting = {};
            waitingRecords = 0;
        }
    }
    mergeOtherMachines(std::move(waiting));
    transaction.commit();
    // The journal of a large merge holds every page it wrote, tens of megabytes: emptied now, as
    // part of the merge, rather than by the next small pass, which would pay tens of milliseconds for it.
    if (merged > 65'536) {
        db_.execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
}

std::vector<StoredRecords> Ledger::takeBatch(SharedBatch batch) {
    std::vector<std::int64_t> ids;
    ids.reserve(batch.names.size());
    for (const std::string& name : batch.names) {
        ids.push_back(nameId(InternedString(name)));
    }
    for (StoredRecords& block : batch.blocks) {
        for (StoredRecord& record : block) {
            record.model = ids.at(static_cast<std::size_t>(record.model));
            record.project = ids.at(static_cast<std::size_t>(record.project));
            record.session = ids.at(static_cast<std::size_t>(record.session));
            record.device = batch.device;
        }
    }
    db_.prepare("INSERT OR REPLACE INTO shared_files VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
        .bind(1, std::string_view(batch.path))
        .bind(2, batch.device)
        .bind(3, static_cast<std::int64_t>(batch.file.size))
        .bind(4, batch.file.mtime)
        .bind(5, static_cast<std::int64_t>(batch.file.readEnd))
        .bind(6, static_cast<std::int64_t>(batch.file.windowHash))
        .run();
    if (batch.device != 0) {
        db_.prepare("UPDATE devices SET last_seen = ?2 WHERE id = ?1 AND last_seen < ?2")
            .bind(1, batch.device)
            .bind(2, batch.lastSeen)
            .run();
    }
    return std::move(batch.blocks);
}

void Ledger::mergeOtherMachines(std::vector<StoredRecords> parts) {
    // The records stay where their files put them, and are sorted and settled by reference: 16
    // bytes a record moved, rather than the record, and no new memory the size of them all.
    struct Ref {
        std::int64_t key; // the identity, then the time
        std::uint32_t part;
        std::uint32_t index;
    };
    const auto recordOf = [&](const Ref& ref) -> StoredRecord& { return parts[ref.part][ref.index]; };
    constexpr std::uint32_t skipped = UINT32_MAX; // a part no record is of
    std::vector<Ref, HugePageAllocator<Ref>> refs;
    std::size_t records = 0;
    for (const StoredRecords& part : parts) {
        records += part.size();
    }
    refs.reserve(records);
    for (std::uint32_t part = 0; part < parts.size(); ++part) {
        for (std::uint32_t index = 0; index < parts[part].size(); ++index) {
            refs.push_back({parts[part][index].identity, part, index});
        }
    }
    if (refs.empty()) {
        return;
    }
    // Stable: of copies as large, the one of the file read first stands.
    radixSort(std::span(refs), [](const Ref& ref) { return ref.key; });
    std::size_t settled = 0;
    for (const Ref& ref : refs) {
        if (settled > 0 && refs[settled - 1].key == ref.key) {
            settleCopy(recordOf(refs[settled - 1]), recordOf(ref), RecordRule::keepLarger);
        } else {
            refs[settled++] = ref;
        }
    }
    refs.resize(settled);
    std::vector<std::int64_t> identities;
    std::vector<std::int64_t> times;
    identities.reserve(refs.size());
    times.reserve(refs.size());
    for (const Ref& ref : refs) {
        identities.push_back(ref.key);
        times.push_back(recordOf(ref).at);
    }
    const TimeRanges around = hoursAround(std::move(times));

    // A record this machine's logs hold too stays this machine's, the larger copy's counts.
    std::vector<bool> own(refs.size());
    std::vector<StoredRecord> ownCopies;
    auto ownSelect = db_.prepare("SELECT identity FROM records WHERE at BETWEEN ?1 AND ?2");
    matchRows(around, ownSelect, identities, [&](std::size_t i, const sqlite::Statement&) {
        if (!own[i]) {
            own[i] = true;
            ownCopies.push_back(recordOf(refs[i]));
        }
    });
    put(ownCopies, RecordRule::keepLarger, false);
    // So does one that another machine brought first.
    std::unordered_map<std::int64_t, StoredRecord> othersCopies;
    auto sharedSelect = db_.prepare("SELECT " + std::string(storedColumns) +
                                    " FROM shared_records WHERE at BETWEEN ?1 AND ?2");
    matchRows(around, sharedSelect, identities, [&](std::size_t, const sqlite::Statement& row) {
        othersCopies.emplace(row.integer(0), storedFromRow(row));
    });
    identities = {};

    // Written in time order: appended to the table, each file's records read in their order.
    std::size_t left = 0;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        if (!own[i]) {
            refs[left++] = {recordOf(refs[i]).at, refs[i].part, refs[i].index};
        }
    }
    refs.resize(left);
    radixSort(std::span(refs), [](const Ref& ref) { return ref.key; });
    // A copy that another machine brought first gives way to a larger one, which stays that
    // machine's: taken out before the larger is written, which can be of the same time.
    TotalsDelta totals;
    std::vector<StoredRecord> givingWay;
    for (Ref& ref : refs) {
        StoredRecord& record = recordOf(ref);
        if (const auto copy = othersCopies.find(record.identity); copy != othersCopies.end()) {
            if (!supersedes(record, copy->second)) {
                ref.part = skipped;
                continue;
            }
            record.device = copy->second.device;
            givingWay.push_back(copy->second);
            totals.remove(copy->second);
        }
    }
    sharedchunks::remove(db_, givingWay);
    sharedchunks::Writer writer(db_);
    std::unordered_map<std::int64_t, std::pair<std::int64_t, std::int64_t>> sessionSpans;
    for (const Ref& ref : refs) {
        if (ref.part == skipped) {
            continue;
        }
        const StoredRecord& record = recordOf(ref);
        writer.add(record);
        totals.add(record);
        // In time order: the first record of a session begins its span, the last ends it.
        sessionSpans.try_emplace(record.session, record.at, record.at).first->second.second = record.at;
    }
    writer.finish();
    totals.writeTo(db_);
    auto widen = db_.prepare("INSERT INTO shared_sessions VALUES(?1, ?2, ?3) ON CONFLICT DO UPDATE SET "
                             "first = min(first, excluded.first), last = max(last, excluded.last)");
    for (const auto& [session, span] : sessionSpans) {
        widen.bind(1, session).bind(2, span.first).bind(3, span.second).run();
    }
}

void Ledger::dropSharedFiles(std::span<const std::string> paths) {
    if (paths.empty()) {
        return;
    }
    sqlite::Transaction transaction(db_);
    auto drop = db_.prepare("DELETE FROM shared_files WHERE path = ?1");
    for (const std::string& path : paths) {
        drop.bind(1, std::string_view(path)).run();
    }
    transaction.commit();
}

std::optional<OwnShare> Ledger::ownShare() {
    auto select = db_.prepare("SELECT path, size, mtime, blocks FROM own_share");
    std::optional<OwnShare> share;
    if (select.step()) {
        share = OwnShare{std::string(select.text(0)), static_cast<std::uint64_t>(select.integer(1)),
                         select.real(2), select.integer(3)};
        select.run();
    }
    return share;
}

void Ledger::setOwnShare(const OwnShare& share, std::span<const StoredRecord> shared) {
    sqlite::Transaction transaction(db_);
    db_.execute("DELETE FROM own_share");
    db_.prepare("INSERT INTO own_share VALUES(?1, ?2, ?3, ?4)")
        .bind(1, std::string_view(share.path))
        .bind(2, static_cast<std::int64_t>(share.size))
        .bind(3, share.mtime)
        .bind(4, share.blocks)
        .run();
    auto dequeue = db_.prepare("DELETE FROM unshared WHERE identity = ?1");
    for (const StoredRecord& record : shared) {
        dequeue.bind(1, record.identity).run();
    }
    transaction.commit();
}

void Ledger::stopSharing() {
    sqlite::Transaction transaction(db_);
    db_.execute("DELETE FROM own_share; DELETE FROM unshared;");
    transaction.commit();
}

ShareExport Ledger::recordsToShare(bool all) {
    auto select = db_.prepare(std::string("SELECT identity, source, at, model, project, session, ") +
                              std::string(countColumns) +
                              (all ? " FROM records WHERE device = 0"
                                   : " FROM unshared JOIN records USING(identity) WHERE device = 0") +
                              " ORDER BY at, identity");
    ShareExport share;
    std::unordered_map<std::int64_t, std::int64_t> indexes;
    const auto indexOf = [&](std::int64_t id) {
        const auto [it, added] = indexes.emplace(id, static_cast<std::int64_t>(share.names.size()));
        if (added) {
            share.names.emplace_back(nameOf(id).str());
        }
        return it->second;
    };
    while (select.step()) {
        StoredRecord& record = share.records.emplace_back();
        record.identity = select.integer(0);
        record.source = select.integer(1);
        record.at = select.integer(2);
        record.model = indexOf(select.integer(3));
        record.project = indexOf(select.integer(4));
        record.session = indexOf(select.integer(5));
        for (std::size_t i = 0; i < record.counts.size(); ++i) {
            record.counts[i] = select.integer(6 + static_cast<int>(i));
        }
        record.priceClass = select.integer(11);
    }
    return share;
}

std::string setLedgerAside(const std::filesystem::path& path) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string aside = path.string() + ".damaged-" + stamp;
    for (const std::string_view suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::rename(path.string() + std::string(suffix), aside + std::string(suffix), ignored);
    }
    return "The usage ledger " + path.string() + " was damaged. It was moved to " + aside +
           " and is being rebuilt from the logs.";
}

std::unique_ptr<Ledger> openLedgerOrRebuild(const std::filesystem::path& path, std::string& notice) {
    try {
        return std::make_unique<Ledger>(path);
    } catch (const sqlite::Error& error) {
        if (!error.isDamage()) {
            throw;
        }
    }
    notice = setLedgerAside(path);
    return std::make_unique<Ledger>(path);
}

} // namespace fernhollow
