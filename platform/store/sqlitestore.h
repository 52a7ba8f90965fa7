// The SQLite store: an alias is a directory, and each table is a file in it, named as the
// table (GENTBL.DB), holding one SQL table.
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

 private:
  std::chrono::milliseconds busy_timeout_;
};

// Makes `session` (by default the process's) open "sqlite:" aliases. Safe to repeat.
void RegisterSqliteStore(TSession* session = nullptr);

}  // namespace tgen
