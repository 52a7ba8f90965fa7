// The in-memory store: tables shared by all cursors of this process, for tests and tools.
//
// An alias "memory:NAME" names one database; its tables live until the process ends or
// Reset() drops them. Edit exclusion works as in any store: while one cursor has a row in
// edit, another cursor's Edit of it fails at once. Tests drive every branch of the lock
// protocol with the fault injection below: counted from the moment it is asked for, the n-th
// Edit, Post of an edit, or Post of an insert on a table fails; and a row can be held in edit
// as if by another client. Thread-safe.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/store/recordstore.h"

namespace tgen {

class TSession;

class TMemoryStore final : public TStoreDriver {
 public:
  static std::shared_ptr<TMemoryStore> Instance();

  std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                          const std::string& table) override;
  std::vector<std::string> TableNames(const std::string& location) override;
  // Any layout; the unique key may be empty.
  void CreateTable(const std::string& location, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
  // Drops every table of every database.
  void Reset();

  // Fault injection; `which` counts calls from now on, 1 being the next.
  void FailLocks(const std::string& location, const std::string& table, const std::set<int>& which);
  void FailUpdates(const std::string& location, const std::string& table,
                   const std::set<int>& which);
  void FailInserts(const std::string& location, const std::string& table,
                   const std::set<int>& which);
  // The updates `which` are stored and then fail with ECommitUnknown, as when the connection
  // goes during a COMMIT that the server carried out.
  void LoseCommits(const std::string& location, const std::string& table,
                   const std::set<int>& which);
  // Whether an injected fault is still to come.
  [[nodiscard]] bool FaultsPending(const std::string& location, const std::string& table) const;
  // Keeps a row in edit as if another client had it, or lets it go again.
  void HoldRow(const std::string& location, const std::string& table, TRowId row, bool held);

  // Direct access to the rows, bypassing every lock.
  [[nodiscard]] std::vector<std::pair<TRowId, TRecord>> Rows(const std::string& location,
                                                             const std::string& table) const;
  void SetRow(const std::string& location, const std::string& table, TRowId row, TRecord values);

  struct Table;

 private:
  friend class MemoryCursor;
  Table& Find(const std::string& location, const std::string& table) const;
  // Makes the calls counted in `calls` numbered `which` from now (1 being the next) faulty.
  void Schedule(const std::string& location, const std::string& table, std::set<int> Table::*faults,
                int Table::*calls, const std::set<int>& which);

  mutable std::mutex mutex_;
  std::condition_variable released_;  // a row's edit ended
  std::map<std::string, std::map<std::string, std::shared_ptr<Table>>> databases_;
};

// Makes `session` (by default the process's) open "memory:" aliases. Safe to repeat.
void RegisterMemoryStore(TSession* session = nullptr);

}  // namespace tgen
