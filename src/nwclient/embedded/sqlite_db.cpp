#include "nwclient/embedded/sqlite_db.h"

namespace nw::embedded {

Db::~Db() {
    if (db_) sqlite3_close_v2(db_);
}

void Db::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

int Db::open(const std::string& file, int flags) {
    return sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
}

void Db::fail(int code, std::string_view context) const {
    std::string what(context);
    what += ": ";
    what += db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    throw SqlError(code, what);
}

void Db::exec(const char* sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string what = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqlError(rc, what);
    }
}

Stmt::Stmt(Db& db, std::string_view sql) : db_(db) {
    int rc = sqlite3_prepare_v2(db.handle(), sql.data(), int(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) db.fail(rc, "prepare");
}

Stmt::~Stmt() {
    sqlite3_finalize(stmt_);
}

Stmt& Stmt::bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
}

Stmt& Stmt::bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::bindBlob(int i, std::string_view v) {
    sqlite3_bind_blob(stmt_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::bindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
}

bool Stmt::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    db_.fail(rc, "step");
}

void Stmt::run() {
    while (step()) {
    }
}

void Stmt::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Stmt::i64(int col) const {
    return sqlite3_column_int64(stmt_, col);
}

std::string Stmt::text(int col) const { return std::string(textView(col)); }

std::string_view Stmt::textView(int col) const {
    const unsigned char* p = sqlite3_column_text(stmt_, col);
    return p ? std::string_view(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(stmt_, col)))
             : std::string_view();
}

std::string Stmt::blob(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    return p ? std::string(static_cast<const char*>(p), size_t(sqlite3_column_bytes(stmt_, col))) : std::string();
}

bool Stmt::isNull(int col) const {
    return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

Transaction::Transaction(Db& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

ReadTransaction::ReadTransaction(Db& db) : db_(db) {
    if (!sqlite3_get_autocommit(db_.handle())) return;
    db_.exec("BEGIN");
    open_ = true;
}

ReadTransaction::~ReadTransaction() {
    if (open_) sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace nw::embedded
