#include "core/ledger/Sqlite.h"

namespace fernhollow::sqlite {
namespace {

// The tray app and `fernhollow report` may write at once; a writer waits this long for the
// other's transaction before giving up. Passes commit in milliseconds.
constexpr int busyTimeoutMs = 10'000;

// SQLite counts every allocation under a global lock unless told not to before its first use;
// nothing here reads the counts, and a pass makes millions of allocations.
void skipMemoryStatistics() {
    static const int once = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    static_cast<void>(once);
}

} // namespace

Database::Database(const std::filesystem::path& path, Mode mode) {
    skipMemoryStatistics();
    const int flags =
        mode == Mode::readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : std::string(sqlite3_errstr(rc));
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error(rc, path.string() + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

void Database::fail(int code) const {
    throw Error(code, sqlite3_errmsg(db_));
}

void Database::execute(std::string_view sql) {
    const std::string text(sql);
    if (const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        fail(rc);
    }
}

Statement Database::prepare(std::string_view sql) {
    return Statement(*this, sql);
}

std::int64_t Database::changes() const {
    return sqlite3_changes64(db_);
}

Statement::Statement(Database& db, std::string_view sql) : db_(&db) {
    const int rc = sqlite3_prepare_v3(db.handle(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    if (rc != SQLITE_OK) {
        db.fail(rc);
    }
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement::Statement(Statement&& other) noexcept : db_(other.db_), statement_(other.statement_) {
    other.statement_ = nullptr;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(statement_, index, value); rc != SQLITE_OK) {
        db_->fail(rc);
    }
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (const int rc = sqlite3_bind_double(statement_, index, value); rc != SQLITE_OK) {
        db_->fail(rc);
    }
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    const int rc =
        sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) {
        db_->fail(rc);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    if (const int rc = sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
        rc != SQLITE_OK) {
        db_->fail(rc);
    }
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    if (rc != SQLITE_DONE) {
        db_->fail(rc);
    }
    return false;
}

void Statement::run() {
    while (step()) {
    }
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::string_view Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return data != nullptr
               ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
               : std::string_view();
}

std::string_view Statement::blob(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return data != nullptr
               ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
               : std::string_view();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db), nested_(sqlite3_get_autocommit(db.handle()) == 0) {
    // Immediate: the write lock is taken (or waited for) up front, so a transaction never
    // fails halfway because another process began writing after it had read.
    db_.execute(nested_ ? "SAVEPOINT part" : "BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(db_.handle(), nested_ ? "ROLLBACK TO part; RELEASE part" : "ROLLBACK", nullptr, nullptr,
                     nullptr);
    }
}

void Transaction::commit() {
    db_.execute(nested_ ? "RELEASE part" : "COMMIT");
    open_ = false;
}

} // namespace fernhollow::sqlite
