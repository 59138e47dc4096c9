#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fernhollow::sqlite {

// A failed SQLite call, with SQLite's primary result code so callers can tell a damaged file
// (SQLITE_CORRUPT, SQLITE_NOTADB) from a full disk or a read-only folder.
class Error : public std::runtime_error {
public:
    Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const noexcept { return code_ & 0xff; }
    bool isDamage() const noexcept { return code() == SQLITE_CORRUPT || code() == SQLITE_NOTADB; }

private:
    int code_;
};

class Statement;

// One connection. Not shared between threads: each thread opens its own.
class Database {
public:
    enum class Mode { readWriteCreate, readOnly };

    Database(const std::filesystem::path& path, Mode mode);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(std::string_view sql);
    Statement prepare(std::string_view sql);
    std::int64_t changes() const;
    sqlite3* handle() const { return db_; }
    [[noreturn]] void fail(int code) const;

private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset and cleared for reuse after each run.
class Statement {
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, std::string_view bytes);

    // Advances to the next row; false when there is none, and the statement is ready to run again.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string_view text(int column) const;
    std::string_view blob(int column) const;
    bool isNull(int column) const;

private:
    Database* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Commits at `commit`, rolls back if left before it (an exception on the way). Begun inside
// another, it is a part of that one: undone alone, kept only if the outer one commits.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& db_;
    bool nested_;
    bool open_ = true;
};

} // namespace fernhollow::sqlite
