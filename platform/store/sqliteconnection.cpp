#include "platform/store/sqliteconnection.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/base/exception.h"

namespace tgen::sqlite {

void Fail(sqlite3* db, int rc, const std::string& what) {
  const std::string reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // A connection the application lent may report only primary result codes.
  const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY) {
    throw EKeyViolation(what + ": key violation (" + reason + ")");
  }
  throw EDatabaseError(what + ": " + reason);
}

void FailCommit(int rc, const std::string& what, const std::string& reason) {
  if ((rc & 0xFF) == SQLITE_IOERR)
    throw ECommitUnknown(what + ": " + reason + "; whether it was stored is unknown");
  throw EDatabaseError(what + ": " + reason);
}

Connection::Connection(const std::string& path, int flags, std::string table_label,
                       std::chrono::milliseconds busy_timeout)
    : label_(std::move(table_label)), busy_timeout_(busy_timeout) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) Fail(db_.get(), rc, "Cannot open table " + label_);
  sqlite3_extended_result_codes(db_.get(), 1);
  busy_ = std::make_unique<BusyWait>();
  busy_->limit = busy_timeout;
  sqlite3_busy_handler(db_.get(), &BusyWait::OnBusy, busy_.get());
}

unsigned BusyWait::Seed() {
  thread_local std::minstd_rand seeds(std::random_device{}());
  return static_cast<unsigned>(seeds());
}

int BusyWait::OnBusy(void* wait, int attempt) {
  auto& w = *static_cast<BusyWait*>(wait);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) w.since = now;
  if (now - w.since >= w.limit) return 0;
  // From 100 microseconds, doubling, to 10 ms at the most; each pause between half and all of
  // it, so that waiting clients do not wake in step.
  const long most = std::min(10000L, 100L << std::min(attempt, 7));
  std::uniform_int_distribution<long> pause(most / 2, most);
  std::this_thread::sleep_for(std::chrono::microseconds(pause(w.random)));
  return 1;
}

namespace {

// The lent connections, by the application's connection they work on.
std::mutex lent_mutex;
std::multimap<sqlite3*, Connection*>& LentConnections() {
  static std::multimap<sqlite3*, Connection*> lent;
  return lent;
}

}  // namespace

Connection::Connection(sqlite3* lent, std::string table_label)
    : db_(lent, DbCloser{false}), label_(std::move(table_label)), lent_(true) {
  const std::lock_guard lock(lent_mutex);
  LentConnections().emplace(lent, this);
}

Connection::~Connection() {
  if (!lent_) return;
  const std::lock_guard lock(lent_mutex);
  auto [first, last] = LentConnections().equal_range(db_.get());
  for (auto it = first; it != last; ++it) {
    if (it->second == this) {
      LentConnections().erase(it);
      break;
    }
  }
}

void Connection::ReleaseLent(sqlite3* db) noexcept {
  const std::lock_guard lock(lent_mutex);
  auto [first, last] = LentConnections().equal_range(db);
  for (auto it = first; it != last; ++it)
    it->second->cache_.clear();
}

void Connection::CheckLentTransaction() const {
  if (lent_ && sqlite3_get_autocommit(db_.get()) != 0) {
    throw ETransactionLost("Table " + label_ +
                           ": the application's transaction has ended (SQLite rolled it back); "
                           "roll it back and begin anew");
  }
}

void Connection::Exec(const std::string& sql, const std::string& what) {
  CheckLentTransaction();
  const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(db_.get(), rc, what);
}

void Connection::ExecCached(const std::string& sql, const std::string& what) {
  const int rc = Run(sql);
  if (rc != SQLITE_OK) Fail(db_.get(), rc, what);
}

int Connection::Run(const std::string& sql) {
  sqlite3_stmt* stmt = Cached(sql);
  const int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

Stmt Connection::Prepare(const std::string& sql) {
  CheckLentTransaction();
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
  Stmt stmt(raw);
  if (rc != SQLITE_OK) Fail(db_.get(), rc, "Table " + label_);
  return stmt;
}

sqlite3_stmt* Connection::Cached(const std::string& sql) {
  CheckLentTransaction();
  auto it = cache_.find(sql);
  if (it == cache_.end()) it = cache_.emplace(sql, Prepare(sql)).first;
  sqlite3_stmt* stmt = it->second.get();
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return stmt;
}

void Connection::Begin(const std::string& what) {
  if (!lent_) ExecCached("BEGIN IMMEDIATE", what);
}

void Connection::Commit(const std::string& what) {
  if (!lent_) CommitOwn(what);
}

int Connection::WithBusyTimeout(std::chrono::milliseconds wait, const std::function<int()>& step) {
  if (lent_) return step();
  busy_->limit = wait;
  const int rc = step();
  busy_->limit = busy_timeout_;
  return rc;
}

int Connection::BeginUnit(std::chrono::milliseconds wait) {
  if (lent_) return Run("SAVEPOINT tgen_unit");
  return WithBusyTimeout(wait, [&] { return Run("BEGIN IMMEDIATE"); });
}

void Connection::CommitUnit(const std::string& what) {
  if (lent_) {
    ExecCached("RELEASE tgen_unit", what);
  } else {
    CommitOwn(what);
  }
}

void Connection::CommitOwn(const std::string& what) {
  const int rc = Run("COMMIT");
  if (rc == SQLITE_OK) return;
  const std::string reason = sqlite3_errmsg(db_.get());
  Rollback();
  FailCommit(rc, what, reason);
}

void Connection::UndoUnit() noexcept {
  if (!lent_) {
    Rollback();
  } else if (sqlite3_get_autocommit(db_.get()) == 0) {
    sqlite3_exec(db_.get(), "ROLLBACK TO tgen_unit; RELEASE tgen_unit", nullptr, nullptr, nullptr);
  }
}

void Connection::Rollback() noexcept {
  if (!lent_ && sqlite3_get_autocommit(db_.get()) == 0) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void Bind(Connection& c, sqlite3_stmt* stmt, int index, const TFieldValue& value, bool copy) {
  int rc = SQLITE_OK;
  if (const auto* number = std::get_if<double>(&value)) {
    rc = sqlite3_bind_double(stmt, index, *number);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    rc = sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()),
                           copy ? SQLITE_TRANSIENT : SQLITE_STATIC);
  } else {
    rc = sqlite3_bind_null(stmt, index);
  }
  if (rc != SQLITE_OK) Fail(c.Get(), rc, "Table " + c.Label());
}

TFieldValue Column(sqlite3_stmt* stmt, int index) {
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, index);
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, index));
      return std::string(bytes != nullptr ? bytes : "",
                         static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
    }
    default:
      return std::monostate{};
  }
}

}  // namespace tgen::sqlite
