// The SQLite store: an alias is a directory, and each table is a file in it, named as the
// table (GENTBL.DB), holding one SQL table; or an alias is a database file of an application,
// and its tables are the SQL tables in it.
//
// Every cursor has its own connection. Edit is an immediate write transaction, which keeps
// every other client out of the table until Post or Cancel; a client that finds the table
// taken waits for it up to five seconds before its Edit fails. Commits are durable: every
// commit is synchronised to disk (tables made here are in write-ahead-log mode), so a stored
// key survives a crash or a power loss. Opening a table writes nothing to it. Identifiers are
// quoted and values bound, never pasted into SQL.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/recordstore.h"

struct sqlite3;

namespace tgen {

class TSession;

class TSqliteDriver final : public TStoreDriver {
 public:
  // `busy_timeout`: how long a client waits for a table that another client edits.
  explicit TSqliteDriver(std::chrono::milliseconds busy_timeout = std::chrono::seconds(5))
      : busy_timeout_(busy_timeout) {}

  std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                          const std::string& table) override;
  std::vector<std::string> TableNames(const std::string& location) override;
  void CreateTable(const std::string& location, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
  // A folder (or database file): "~/" is the home folder, and a relative one is taken from
  // the alias file's folder.
  [[nodiscard]] std::string ResolveLocation(const std::string& location,
                                            const std::string& folder) const override;

 private:
  std::chrono::milliseconds busy_timeout_;
};

// The application's own transaction on its SQLite connection `db`, for drawing keys whose steps
// commit or roll back with the application's records (gap-free sequences). The constructor
// begins it with BEGIN IMMEDIATE, waiting up to `wait` while another client writes to the
// database (ELockTimeout after; the connection's own busy timeout, as the application set it,
// comes first); the destructor rolls back unless Commit came first.
//
// The generator table must be a table of that same database (CreateTable makes one), not a table
// file of an alias: a commit is atomic across the tables of one database file, but not across
// attached files in write-ahead-log mode. The connection stays the application's: it is neither
// closed nor reconfigured here, and must outlive the transaction object. While the transaction is
// open it holds the database's write lock, so every other writer waits: keep it short.
class TSqliteTransaction final : public TAppTransaction {
 public:
  explicit TSqliteTransaction(sqlite3* db,
                              std::chrono::milliseconds wait = std::chrono::seconds(30));
  ~TSqliteTransaction() override;
  TSqliteTransaction(const TSqliteTransaction&) = delete;
  TSqliteTransaction& operator=(const TSqliteTransaction&) = delete;

  std::unique_ptr<TTableDriver> OpenTable(const std::string& table) override;
  void CreateTable(const std::string& table, const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
  void Commit() override;
  void Rollback() noexcept override;
  [[nodiscard]] bool Active() const override { return active_; }
  // The connection's address and its database file: a table opened in one transaction serves
  // the next ones on the same connection, its statements prepared anew in each.
  [[nodiscard]] std::string Reusable() const override;

 private:
  void CheckActive() const;

  sqlite3* db_;
  bool active_ = false;
};

// Makes `session` (by default the process's) open "sqlite:" aliases. Safe to repeat.
void RegisterSqliteStore(TSession* session = nullptr);

}  // namespace tgen
