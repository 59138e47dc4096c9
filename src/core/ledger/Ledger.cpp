#include "core/ledger/Ledger.h"

#include "core/ledger/RecordIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <set>
#include <system_error>
#include <vector>

namespace fernhollow {
namespace {

constexpr std::int64_t quarterMs = 15 * 60 * 1000;

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

// Each entry brings a ledger of the version before it to its own version, so any older ledger
// is brought up to date step by step. Append; never edit a step that has shipped.
const std::vector<std::string>& migrations() {
    static const std::vector<std::string> steps{
        // 1: records by identity with their price class, names shared by records, quarter-hour
        // and per-model totals kept by triggers, and what each log's last read saw.
        std::string(R"sql(
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
            totalsChange("old", '-') + totalsChange("new", '+') + "END;\n",
    };
    return steps;
}

constexpr std::string_view insertRecord = R"sql(
INSERT INTO records VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)
ON CONFLICT(identity) DO UPDATE SET source = excluded.source, at = excluded.at, model = excluded.model,
    project = excluded.project, session = excluded.session, input = excluded.input, output = excluded.output,
    cache_write = excluded.cache_write, cache_write_1h = excluded.cache_write_1h, cache_read = excluded.cache_read,
    price_class = excluded.price_class
)sql";
// A larger copy replaces a smaller one, never the other way. A copy as large that reads its
// model or price class otherwise is the same line read by a newer reader.
constexpr std::string_view whenLarger = R"sql(
WHERE excluded.input + excluded.output + excluded.cache_write + excluded.cache_read
    > records.input + records.output + records.cache_write + records.cache_read
   OR (excluded.input + excluded.output + excluded.cache_write + excluded.cache_read
    = records.input + records.output + records.cache_write + records.cache_read
       AND (excluded.model, excluded.price_class) IS NOT (records.model, records.price_class)))sql";
// Rewriting a row with the values it holds would still write its pages.
constexpr std::string_view whenDifferent = R"sql(
WHERE (excluded.source, excluded.at, excluded.model, excluded.project, excluded.session, excluded.input,
       excluded.output, excluded.cache_write, excluded.cache_write_1h, excluded.cache_read, excluded.price_class)
   IS NOT (records.source, records.at, records.model, records.project, records.session, records.input,
       records.output, records.cache_write, records.cache_write_1h, records.cache_read, records.price_class))sql";

// The counts, then the price class, as recordFromRow reads them.
constexpr std::string_view countColumns =
    "input, output, cache_write, cache_write_1h, cache_read, price_class";

std::int64_t millisecondsOf(double seconds) {
    const double ms = std::round(seconds * 1000.0);
    // Beyond any calendar (1e15 s), yet within 64 bits: keeps the conversion defined for absurd input.
    constexpr double limit = 4e18;
    return static_cast<std::int64_t>(std::clamp(std::isnan(ms) ? 0.0 : ms, -limit, limit));
}

std::int64_t quarterOf(std::int64_t ms) {
    return (ms - ((ms % quarterMs) + quarterMs) % quarterMs) / quarterMs;
}

// The file is made before SQLite opens it, so it is owner-only from its first byte; SQLite
// gives its journal files the same mode.
void createOwnerOnly(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // Whatever the umask: a mask that took the owner's write would leave a ledger nobody can update.
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

} // namespace

Ledger::Ledger(const std::filesystem::path& path)
    : db_((createOwnerOnly(path), path), sqlite::Database::Mode::readWriteCreate) {
    // WAL lets the panel read while a pass writes, and the report run beside the app. With
    // NORMAL sync a crash loses at most the last commit, never consistency.
    db_.execute("PRAGMA journal_mode = WAL");
    db_.execute("PRAGMA synchronous = NORMAL");
    // Each upsert fires triggers, so SQLite keeps a statement journal; on disk, a first pass over
    // a large tree wrote gigabytes to it. In memory, with a cache that holds a pass's pages, the
    // same pass writes what the ledger keeps.
    db_.execute("PRAGMA temp_store = MEMORY");
    db_.execute("PRAGMA cache_size = -65536");
    db_.execute("PRAGMA journal_size_limit = 4194304");
    if (userVersion() < schemaVersion) {
        sqlite::Transaction transaction(db_);
        // Read again under the write lock: another connection may have migrated meanwhile.
        const std::int64_t version = userVersion();
        if (version < schemaVersion) {
            for (std::int64_t step = version; step < schemaVersion; ++step) {
                db_.execute(migrations()[static_cast<std::size_t>(step)]);
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
    auto insert = db_.prepare("INSERT INTO names(text) VALUES(?1) ON CONFLICT(text) DO NOTHING");
    insert.bind(1, std::string_view(text)).run();
    auto select = db_.prepare("SELECT id FROM names WHERE text = ?1");
    select.bind(1, std::string_view(text));
    std::int64_t id = 0;
    if (select.step()) {
        id = select.integer(0);
    }
    select.run();
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
    LogFileStates states;
    auto select =
        db_.prepare("SELECT path, size, mtime, read_end, window_hash FROM log_files WHERE source = ?1");
    select.bind(1, static_cast<std::int64_t>(source));
    while (select.step()) {
        states.emplace(std::string(select.text(0)),
                       LogFileState{static_cast<std::uint64_t>(select.integer(1)), select.real(2),
                                    static_cast<std::uint64_t>(select.integer(3)),
                                    static_cast<std::uint64_t>(select.integer(4))});
    }
    return states;
}

void Ledger::apply(const LedgerBatch& batch) {
    if (batch.records.empty() && batch.files.empty() && batch.goneFiles.empty()) {
        return;
    }
    sqlite::Transaction transaction(db_);
    const std::string sql = std::string(insertRecord) +
                            std::string(batch.rule == RecordRule::keepLarger ? whenLarger : whenDifferent);
    auto upsert = db_.prepare(sql);
    const auto source = static_cast<std::int64_t>(batch.source);
    for (const UsageRecord& record : batch.records) {
        upsert.bind(1, recordIdentity(batch.source, record))
            .bind(2, source)
            .bind(3, millisecondsOf(record.timestamp))
            .bind(4, nameId(record.model))
            .bind(5, nameId(record.projectPath))
            .bind(6, nameId(record.sessionId))
            .bind(7, record.inputTokens)
            .bind(8, record.outputTokens)
            .bind(9, record.cacheCreationInputTokens)
            // The 1-hour part is priced as at most the whole: kept so, sums price as their records do.
            .bind(10, std::min(record.cacheCreation1hTokens, record.cacheCreationInputTokens))
            .bind(11, record.cacheReadInputTokens)
            .bind(12, static_cast<std::int64_t>(record.priceClass))
            .run();
    }
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
    transaction.commit();
}

void Ledger::forgetFileStates() {
    db_.execute("DELETE FROM log_files");
}

void Ledger::forget() {
    {
        sqlite::Transaction transaction(db_);
        db_.execute(
            "DELETE FROM records; DELETE FROM quarters; DELETE FROM model_totals; DELETE FROM log_files; "
            "DELETE FROM names;");
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

std::vector<UsageRecord> Ledger::historySince(double from, std::span<const double> cuts) {
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
    std::vector<UsageRecord> history;
    auto quarters = db_.prepare("SELECT quarter, model, project, " + std::string(countColumns) +
                                " FROM quarters WHERE quarter >= ?1");
    quarters.bind(1, quarterOf(fromMs));
    while (quarters.step()) {
        const std::int64_t quarter = quarters.integer(0);
        if (split.contains(quarter)) {
            continue;
        }
        UsageRecord& record = history.emplace_back(
            recordFromRow(quarters, 3, static_cast<double>(quarter * quarterMs) / 1000.0));
        record.model = nameOf(quarters.integer(1));
        record.projectPath = nameOf(quarters.integer(2));
    }
    auto records = db_.prepare("SELECT at, model, project, session, " + std::string(countColumns) +
                               " FROM records WHERE at >= ?1 AND at < ?2");
    for (const std::int64_t quarter : split) {
        records.bind(1, std::max(fromMs, quarter * quarterMs)).bind(2, (quarter + 1) * quarterMs);
        while (records.step()) {
            UsageRecord& record = history.emplace_back(
                recordFromRow(records, 4, static_cast<double>(records.integer(0)) / 1000.0));
            record.model = nameOf(records.integer(1));
            record.projectPath = nameOf(records.integer(2));
            record.sessionId = nameOf(records.integer(3));
        }
    }
    return history;
}

std::vector<UsageRecord> Ledger::sessionsActiveSince(UsageSource source, double since) {
    auto select = db_.prepare("SELECT at, model, project, session, " + std::string(countColumns) +
                              " FROM records WHERE source = ?1 AND session IN "
                              "(SELECT session FROM records WHERE at >= ?2 AND source = ?1) ORDER BY at");
    select.bind(1, static_cast<std::int64_t>(source)).bind(2, millisecondsOf(since));
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
                              " FROM model_totals WHERE records > 0 ORDER BY source, model, price_class");
    std::vector<ModelTotal> totals;
    while (select.step()) {
        ModelTotal total{static_cast<UsageSource>(select.integer(0)), recordFromRow(select, 3, 0.0),
                         select.integer(2)};
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
