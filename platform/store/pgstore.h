// The PostgreSQL store: an alias is a connection string ("postgresql://user@host/db" or
// "host=... dbname=..."), and tables are the tables of that database's current schema.
//
// Every cursor has its own connection. Locate reads a row by its key; Edit opens a
// transaction and takes the row with SELECT ... FOR UPDATE NOWAIT, so that a client finding
// the row in another client's edit fails at once; Post writes and commits; Cancel rolls back.
// A row is known by the table's unique key (for generator tables GenID and Prefix). A lost
// connection is an error, never a hang (connect and keep-alive time-outs), and the next call
// connects again; a commit whose outcome is unknown is reported as such. Passwords never
// appear in messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/store/recordstore.h"

namespace tgen {

class TSession;

class TPgDriver final : public TStoreDriver {
 public:
  std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                          const std::string& table) override;
  std::vector<std::string> TableNames(const std::string& location) override;
  // The connection string without its password.
  [[nodiscard]] std::string DisplayUri(const std::string& scheme,
                                       const std::string& location) override;
  void CreateTable(const std::string& location, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
};

// Makes `session` (by default the process's) open PostgreSQL aliases. Safe to repeat.
void RegisterPgStore(TSession* session = nullptr);

// The connection string with any password replaced by "***", for messages and listings.
std::string HidePassword(const std::string& connection);

}  // namespace tgen
