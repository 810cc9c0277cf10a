#pragma once
// The small part of SQLite's C interface that the registry store and the
// install record share: a statement that finalises itself, one-shot SQL and a
// transaction that rolls back unless committed.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace lumo::sqlite {

// How long a writer waits for another process's transaction to end.
constexpr int kBusyTimeoutMs = 10000;

inline bool exec(sqlite3* db, const char* sql) {
  return ::sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = ::sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { ::sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return rc_ == SQLITE_OK; }
  // Makes the statement ready to run again; its bindings stay.
  void reset() { ::sqlite3_reset(statement_); }
  // Every parameter back to NULL.
  void clearBindings() { ::sqlite3_clear_bindings(statement_); }
  Statement& bind(int index, std::int64_t value) {
    ::sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bind(int index, std::string_view text) {
    ::sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bindBlob(int index, std::string_view bytes) {
    ::sqlite3_bind_blob(statement_, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                        SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return ok() ? ::sqlite3_step(statement_) : rc_; }
  bool isNull(int column) const { return ::sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::int64_t integer(int column) const { return ::sqlite3_column_int64(statement_, column); }
  // The column's bytes as they are stored, text or blob.
  std::string text(int column) const {
    const void* data = ::sqlite3_column_blob(statement_, column);
    int size = ::sqlite3_column_bytes(statement_, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int rc_ = SQLITE_OK;
};

// Rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { begun_ = exec(db, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (begun_ && !committed_) exec(db_, "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool begun() const { return begun_; }
  bool commit() {
    committed_ = exec(db_, "COMMIT");
    return committed_;
  }

 private:
  sqlite3* db_;
  bool begun_ = false;
  bool committed_ = false;
};

}  // namespace lumo::sqlite
