// A thin RAII layer over the SQLite C API for the embedded tree store. Failures throw SqlError
// carrying SQLite's result code; the store's public operations turn them into statuses.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nw::embedded {

class SqlError : public std::runtime_error {
public:
    SqlError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    // Primary result code (SQLITE_BUSY, SQLITE_NOTADB, ...).
    int code() const { return code_ & 0xFF; }

private:
    int code_;
};

class Db;

// One prepared statement. Bind parameters are 1-based, columns 0-based.
class Stmt {
public:
    Stmt(Db& db, std::string_view sql);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, int64_t v);
    Stmt& bind(int i, std::string_view v);
    Stmt& bindBlob(int i, std::string_view v);
    Stmt& bindNull(int i);
    // true while a row is available.
    bool step();
    // Runs to completion (for statements without rows).
    void run();
    void reset();

    int64_t i64(int col) const;
    std::string text(int col) const;
    // The same without a copy: valid until the next step or reset.
    std::string_view textView(int col) const;
    std::string blob(int col) const;
    bool isNull(int col) const;

private:
    Db& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    // Returns SQLite's result code; the handle stays usable for the error message.
    int open(const std::string& file, int flags);
    void close();
    void exec(const char* sql);
    sqlite3* handle() const { return db_; }
    int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    int changes() const { return sqlite3_changes(db_); }
    [[noreturn]] void fail(int code, std::string_view context) const;

private:
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back when left without commit().
class Transaction {
public:
    explicit Transaction(Db& db);
    ~Transaction();
    void commit();

private:
    Db& db_;
    bool open_ = true;
};

// BEGIN ... COMMIT around many reads: the file's locks are taken and given back once, not for
// each statement, and every read sees the same state. Nothing when a transaction is open already.
class ReadTransaction {
public:
    explicit ReadTransaction(Db& db);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

private:
    Db& db_;
    bool open_ = false;
};

}  // namespace nw::embedded
