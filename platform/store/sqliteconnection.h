// One SQLite connection of the SQLite store, and what its table cursors need around it: the
// failures told as the store's exceptions, statements prepared once, and write transactions
// that are the store's own or, on a connection the application lent, savepoints inside the
// application's transaction. Internal to the store's library.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/store/recordstore.h"

namespace tgen::sqlite {

// Closes a connection this store opened; one the application lent it stays open.
struct DbCloser {
  bool owned = true;
  void operator()(sqlite3* db) const {
    if (owned) sqlite3_close_v2(db);
  }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// The reason of the last failure on `db` (or of `rc` without one), with what was being done:
// EKeyViolation for a unique key, else EDatabaseError.
[[noreturn]] void Fail(sqlite3* db, int rc, const std::string& what);
// A COMMIT that failed with `rc`. One with an I/O error may have reached the write-ahead log
// before the error, and recovery then replays it: its outcome is unknown (ECommitUnknown). Any
// other failure stored nothing (EDatabaseError).
[[noreturn]] void FailCommit(int rc, const std::string& what, const std::string& reason);

// Waits for a lock that another connection holds, in short pauses of random length, up to
// `limit`. SQLite's own busy timeout sleeps up to 100 ms at a time: a client that looks that
// seldom hardly ever finds the lock free while others draw one key after another, and waits
// out its whole limit.
struct BusyWait {
  std::chrono::milliseconds limit{0};
  std::chrono::steady_clock::time_point since;
  std::minstd_rand random{Seed()};
  // A seed for each connection's pauses, from one source of entropy per thread: a table is
  // opened for every transaction of an application, and reading the system's entropy costs
  // more than the rest of the opening.
  static unsigned Seed();
  // SQLite's busy handler: 1 to try again, 0 to give up.
  static int OnBusy(void* wait, int attempt);
};

class Connection {
 public:
  // Opens the file at `path`; `table_label` names the table in messages. EDatabaseError when
  // it cannot be opened.
  Connection(const std::string& path, int flags, std::string table_label,
             std::chrono::milliseconds busy_timeout);
  // A connection the application lent, inside the transaction it holds on it: BEGIN, COMMIT
  // and ROLLBACK are the application's, and its settings stay as they are. It may serve the
  // application's later transactions too; it keeps its prepared statements only until the
  // transaction under way ends (ReleaseLent), so that the application can close its connection
  // between transactions.
  Connection(sqlite3* lent, std::string table_label);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Finalizes the prepared statements of every lent connection on `db`: called as the
  // application's transaction on it ends.
  static void ReleaseLent(sqlite3* db) noexcept;

  [[nodiscard]] sqlite3* Get() const { return db_.get(); }
  [[nodiscard]] bool Lent() const { return lent_; }
  [[nodiscard]] std::chrono::milliseconds BusyTimeout() const { return busy_timeout_; }
  [[nodiscard]] const std::string& Label() const { return label_; }

  // On a lent connection, refuses every statement once the application's transaction is gone
  // (ETransactionLost): SQLite rolls a whole transaction back on some failures (SQLITE_FULL,
  // SQLITE_IOERR, SQLITE_NOMEM), and a statement run then would begin and commit a transaction
  // of its own, storing a step that the application's records are not stored with.
  void CheckLentTransaction() const;

  void Exec(const std::string& sql, const std::string& what);
  // Exec for one statement without results that runs often (BEGIN, COMMIT): prepared once
  // per connection.
  void ExecCached(const std::string& sql, const std::string& what);
  // Runs one statement without results, prepared once per connection; its result code.
  int Run(const std::string& sql);
  Stmt Prepare(const std::string& sql);
  // A statement prepared once per connection and reset for every use.
  sqlite3_stmt* Cached(const std::string& sql);

  // Begins a write transaction, and commits it: on a lent connection the application's
  // transaction holds the write lock already, and commits when the application says so.
  void Begin(const std::string& what);
  void Commit(const std::string& what);
  // Runs `step` with the busy timeout `wait` instead of the connection's own; a lent
  // connection holds the write lock already and keeps its own.
  int WithBusyTimeout(std::chrono::milliseconds wait, const std::function<int()>& step);

  // A unit of work of several statements that stores all or nothing: a write transaction of
  // its own, waiting up to `wait` for the write lock (its result code: SQLITE_BUSY when the
  // wait ran out), or on a lent connection a savepoint inside the application's transaction.
  int BeginUnit(std::chrono::milliseconds wait);
  void CommitUnit(const std::string& what);
  // COMMIT of a transaction of this store's own; a failed one is rolled back.
  void CommitOwn(const std::string& what);
  // Undoes what the unit did; never throws.
  void UndoUnit() noexcept;
  // Ends an open transaction without storing; never throws. On a lent connection the
  // transaction is the application's: a statement that failed undid itself, or SQLite ended
  // the whole transaction, which the next statement finds (CheckLentTransaction).
  void Rollback() noexcept;

 private:
  Db db_;
  std::map<std::string, Stmt> cache_;  // finalized before the connection closes
  std::string label_;
  std::chrono::milliseconds busy_timeout_{0};
  std::unique_ptr<BusyWait> busy_;  // where SQLite points, on a connection of its own
  bool lent_ = false;
};

// Resets a cached statement when its use ends, so that no read stays open.
class Used {
 public:
  explicit Used(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Used(const Used&) = delete;
  Used& operator=(const Used&) = delete;
  ~Used() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);  // texts bound without a copy may be gone after this
  }
  [[nodiscard]] sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

// Binds `value` to parameter `index`; a text is copied unless `copy` is false, for a value that
// outlives the statement's use (see Used).
void Bind(Connection& c, sqlite3_stmt* stmt, int index, const TFieldValue& value, bool copy = true);
// The value of column `index` of the row `stmt` stands on.
TFieldValue Column(sqlite3_stmt* stmt, int index);

}  // namespace tgen::sqlite
