#include "platform/store/memorystore.h"

#include <algorithm>

#include "platform/store/session.h"

namespace tgen {

struct TMemoryStore::Table {
  std::string name;
  std::vector<TFieldDef> fields;
  std::vector<std::size_t> unique_key;
  std::map<TRowId, TRecord> rows;
  std::map<TRowId, const void*> editors;  // the cursor that has each row in edit
  TRowId next_row = 1;
  int locks = 0, updates = 0, inserts = 0;  // calls so far, for fault injection
  std::set<int> fail_locks, fail_updates, fail_inserts;
  std::set<int> lose_updates;  // stored, then reported as a lost commit
};

namespace {

// Counts one call and tells whether it is one that must fail.
bool Injected(int& calls, std::set<int>& which) {
  ++calls;
  return which.erase(calls) > 0;
}

}  // namespace

namespace {

// Wakes the clients waiting for a row when it leaves scope, after the store's lock is let go.
class Notify {
 public:
  explicit Notify(std::condition_variable& c) : c_(c) {}
  Notify(const Notify&) = delete;
  Notify& operator=(const Notify&) = delete;
  ~Notify() { c_.notify_all(); }

 private:
  std::condition_variable& c_;
};

}  // namespace

// One cursor's connection: every operation takes the store's lock.
class MemoryCursor final : public TTableDriver {
 public:
  MemoryCursor(std::shared_ptr<TMemoryStore> store, std::shared_ptr<TMemoryStore::Table> table)
      : store_(std::move(store)), table_(std::move(table)) {}
  ~MemoryCursor() override {
    {
      const std::lock_guard lock(store_->mutex_);
      for (auto it = table_->editors.begin(); it != table_->editors.end();) {
        it = it->second == this ? table_->editors.erase(it) : std::next(it);
      }
    }
    store_->released_.notify_all();
  }
  MemoryCursor(const MemoryCursor&) = delete;
  MemoryCursor& operator=(const MemoryCursor&) = delete;

  std::vector<TFieldDef> FieldDefs() override {
    const std::lock_guard lock(store_->mutex_);
    return table_->fields;
  }

  std::optional<TLocated> Locate(const std::vector<std::size_t>& fields,
                                 const TRecord& values) override {
    const std::lock_guard lock(store_->mutex_);
    for (const auto& [row, record] : table_->rows) {
      bool match = true;
      for (std::size_t i = 0; i < fields.size() && match; ++i) {
        match = fields[i] < record.size() && record[fields[i]] == values[i];
      }
      if (match) return TLocated{row, record};
    }
    return std::nullopt;
  }

  TRecord Lock(TRowId row) override { return LockWaiting(row, std::chrono::milliseconds(0)); }

  TRecord LockWaiting(TRowId row, std::chrono::milliseconds wait) override {
    std::unique_lock lock(store_->mutex_);
    if (Injected(table_->locks, table_->fail_locks)) Fail("edit a row: injected fault");
    if (!WaitForRow(lock, row, wait)) {
      if (wait.count() == 0) Fail("edit a row: the row is being edited by another client");
      throw ELockTimeout("Table " + table_->name +
                         ": the row stayed in another client's edit for " +
                         std::to_string(wait.count()) + " ms");
    }
    const auto it = table_->rows.find(row);
    if (it == table_->rows.end()) Fail("edit a row: the row was deleted");
    table_->editors[row] = this;
    return it->second;
  }

  TRecord Update(TRowId row, const TRecord& values) override {
    const Notify released(store_->released_);
    const std::lock_guard lock(store_->mutex_);
    const auto editor = table_->editors.find(row);
    const bool mine = editor != table_->editors.end() && editor->second == this;
    if (mine) table_->editors.erase(editor);
    if (!mine) Fail("store a row: the row is not in edit by this client");
    return Store(row, values);
  }

  TConditional UpdateIf(TRowId row, const std::vector<std::size_t>& compare,
                        const TRecord& expected, const TRecord& values,
                        std::chrono::milliseconds wait) override {
    std::unique_lock lock(store_->mutex_);
    if (!WaitForRow(lock, row, wait)) {
      throw ELockTimeout("Table " + table_->name +
                         ": the row stayed in another client's edit for " +
                         std::to_string(wait.count()) + " ms");
    }
    const auto it = table_->rows.find(row);
    if (it == table_->rows.end()) Fail("store a row: the row was deleted");
    for (std::size_t i = 0; i < compare.size(); ++i) {
      if (it->second.at(compare[i]) != expected.at(i)) return {false, it->second};
    }
    return {true, Store(row, values)};
  }

  void Unlock(TRowId row) noexcept override {
    const Notify released(store_->released_);
    const std::lock_guard lock(store_->mutex_);
    const auto editor = table_->editors.find(row);
    if (editor != table_->editors.end() && editor->second == this) table_->editors.erase(editor);
  }

  std::vector<std::vector<std::size_t>> UniqueKeys() override {
    const std::lock_guard lock(store_->mutex_);
    if (table_->unique_key.empty()) return {};
    return {table_->unique_key};
  }

  std::vector<TLocated> ReadAll() override {
    const std::lock_guard lock(store_->mutex_);
    std::vector<TLocated> rows;
    for (const auto& [row, record] : table_->rows)
      rows.push_back({row, record});
    return rows;
  }

  void WriteRows(const std::vector<std::size_t>& key, const TRecordSource& source,
                 const std::vector<TRecord>& replace, const std::vector<std::size_t>& compare,
                 const std::vector<TRecord>& expected) override {
    std::vector<TRecord> add;  // a store in memory holds them anyway
    source([&add](const TRecord& r) { add.push_back(r); });
    const std::lock_guard lock(store_->mutex_);
    const auto same = [](const std::vector<std::size_t>& fields, const TRecord& a,
                         const TRecord& b) {
      return std::all_of(fields.begin(), fields.end(),
                         [&](std::size_t f) { return a.at(f) == b.at(f); });
    };
    const auto same_key = [&](const TRecord& a, const TRecord& b) { return same(key, a, b); };
    // Everything is checked before anything is written: all or none.
    std::vector<TRowId> targets;
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < replace.size(); ++i) {
      const auto found =
          std::find_if(table_->rows.begin(), table_->rows.end(),
                       [&](const auto& entry) { return same_key(entry.second, replace[i]); });
      if (found == table_->rows.end() && compare.empty()) Fail("overwrite a row: the row is gone");
      if (found == table_->rows.end() ||
          (!compare.empty() && !same(compare, found->second, expected[i]))) {
        changed.push_back(i);
        continue;
      }
      targets.push_back(found->first);
    }
    if (!changed.empty()) {
      throw ERowsChanged("Cannot write the rows of table " + table_->name +
                             ": rows to overwrite changed since they were read",
                         changed);
    }
    for (std::size_t i = 0; i < add.size(); ++i) {
      const bool taken =
          std::any_of(table_->rows.begin(), table_->rows.end(),
                      [&](const auto& entry) { return same_key(entry.second, add[i]); }) ||
          std::any_of(add.begin(), add.begin() + static_cast<std::ptrdiff_t>(i),
                      [&](const TRecord& before) { return same_key(before, add[i]); });
      if (taken)
        throw EKeyViolation("Cannot add a row to table " + table_->name + ": key violation");
    }
    for (std::size_t i = 0; i < replace.size(); ++i) {
      table_->rows[targets[i]] = replace[i];
      table_->rows[targets[i]].resize(table_->fields.size());
    }
    for (const TRecord& r : add) {
      TRecord record = r;
      record.resize(table_->fields.size());
      table_->rows[table_->next_row++] = record;
    }
  }

  TLocated Insert(const TRecord& values, const std::vector<std::size_t>& key) override {
    const std::lock_guard lock(store_->mutex_);
    if (Injected(table_->inserts, table_->fail_inserts)) Fail("add a row: injected fault");
    TRecord record = values;
    record.resize(table_->fields.size());
    const std::vector<std::size_t>& declared = table_->unique_key;
    for (const std::vector<std::size_t>* fields : {&key, &declared}) {
      if (fields->empty()) continue;
      for (const auto& entry : table_->rows) {
        const TRecord& other = entry.second;
        const bool same = std::all_of(fields->begin(), fields->end(),
                                      [&](std::size_t f) { return other.at(f) == record.at(f); });
        if (same)
          throw EKeyViolation("Cannot add a row to table " + table_->name + ": key violation");
      }
    }
    const TRowId row = table_->next_row++;
    table_->rows[row] = record;
    return {row, record};
  }

 private:
  // Waits, under `lock`, up to `wait` for no other cursor to have `row` in edit.
  bool WaitForRow(std::unique_lock<std::mutex>& lock, TRowId row, std::chrono::milliseconds wait) {
    return store_->released_.wait_for(lock, wait, [&] {
      const auto editor = table_->editors.find(row);
      return editor == table_->editors.end() || editor->second == this;
    });
  }

  // Stores `values` into `row` under the store's lock, as a commit: the scheduled faults
  // and lost commits apply.
  TRecord Store(TRowId row, const TRecord& values) {
    const int call = table_->updates + 1;
    if (Injected(table_->updates, table_->fail_updates)) Fail("store a row: injected fault");
    const auto it = table_->rows.find(row);
    if (it == table_->rows.end()) Fail("store a row: the row was deleted");
    it->second = values;
    it->second.resize(table_->fields.size());
    if (table_->lose_updates.erase(call) > 0) {
      throw ECommitUnknown("Table " + table_->name +
                           ": the connection was lost during COMMIT; whether it was stored is "
                           "unknown (injected: it was)");
    }
    return it->second;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw EDatabaseError("Table " + table_->name + ": cannot " + what);
  }

  std::shared_ptr<TMemoryStore> store_;
  std::shared_ptr<TMemoryStore::Table> table_;
};

std::shared_ptr<TMemoryStore> TMemoryStore::Instance() {
  static const std::shared_ptr<TMemoryStore> store = std::make_shared<TMemoryStore>();
  return store;
}

TMemoryStore::Table& TMemoryStore::Find(const std::string& location,
                                        const std::string& table) const {
  const auto db = databases_.find(location);
  if (db != databases_.end()) {
    const auto t = db->second.find(table);
    if (t != db->second.end()) return *t->second;
  }
  throw EDatabaseError("Table " + table + " does not exist in memory:" + location,
                       TErrorKind::kUnavailable);
}

std::unique_ptr<TTableDriver> TMemoryStore::OpenTable(const std::string& location,
                                                      const std::string& table) {
  std::shared_ptr<Table> t;
  {
    const std::lock_guard lock(mutex_);
    Find(location, table);
    t = databases_[location][table];
  }
  return std::make_unique<MemoryCursor>(Instance(), std::move(t));
}

std::vector<std::string> TMemoryStore::TableNames(const std::string& location) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  const auto db = databases_.find(location);
  if (db != databases_.end()) {
    for (const auto& entry : db->second)
      names.push_back(entry.first);
  }
  return names;
}

void TMemoryStore::CreateTable(const std::string& location, const std::string& table,
                               const std::vector<TFieldDef>& fields,
                               const std::vector<std::size_t>& unique_key) {
  CheckTableName(table);
  const std::lock_guard lock(mutex_);
  auto& slot = databases_[location][table];
  if (slot) throw EDatabaseError("Table " + table + " already exists in memory:" + location);
  slot = std::make_shared<Table>();
  slot->name = table;
  slot->fields = fields;
  slot->unique_key = unique_key;
}

void TMemoryStore::Reset() {
  const std::lock_guard lock(mutex_);
  databases_.clear();
}

void TMemoryStore::Schedule(const std::string& location, const std::string& table,
                            std::set<int> Table::*faults, int Table::*calls,
                            const std::set<int>& which) {
  const std::lock_guard lock(mutex_);
  Table& t = Find(location, table);
  (t.*faults).clear();
  for (const int n : which)
    (t.*faults).insert(t.*calls + n);
}

void TMemoryStore::FailLocks(const std::string& location, const std::string& table,
                             const std::set<int>& which) {
  Schedule(location, table, &Table::fail_locks, &Table::locks, which);
}

void TMemoryStore::FailUpdates(const std::string& location, const std::string& table,
                               const std::set<int>& which) {
  Schedule(location, table, &Table::fail_updates, &Table::updates, which);
}

void TMemoryStore::LoseCommits(const std::string& location, const std::string& table,
                               const std::set<int>& which) {
  Schedule(location, table, &Table::lose_updates, &Table::updates, which);
}

void TMemoryStore::FailInserts(const std::string& location, const std::string& table,
                               const std::set<int>& which) {
  Schedule(location, table, &Table::fail_inserts, &Table::inserts, which);
}

bool TMemoryStore::FaultsPending(const std::string& location, const std::string& table) const {
  const std::lock_guard lock(mutex_);
  const Table& t = Find(location, table);
  return !t.fail_locks.empty() || !t.fail_updates.empty() || !t.fail_inserts.empty() ||
         !t.lose_updates.empty();
}

void TMemoryStore::HoldRow(const std::string& location, const std::string& table, TRowId row,
                           bool held) {
  static const int other_client = 0;
  const Notify released(released_);
  const std::lock_guard lock(mutex_);
  Table& t = Find(location, table);
  if (held) {
    t.editors[row] = &other_client;
  } else {
    t.editors.erase(row);
  }
}

std::vector<std::pair<TRowId, TRecord>> TMemoryStore::Rows(const std::string& location,
                                                           const std::string& table) const {
  const std::lock_guard lock(mutex_);
  const Table& t = Find(location, table);
  return {t.rows.begin(), t.rows.end()};
}

void TMemoryStore::SetRow(const std::string& location, const std::string& table, TRowId row,
                          TRecord values) {
  const std::lock_guard lock(mutex_);
  Table& t = Find(location, table);
  values.resize(t.fields.size());
  t.rows[row] = std::move(values);
  t.next_row = std::max(t.next_row, row + 1);
}

void RegisterMemoryStore(TSession* session) {
  (session != nullptr ? *session : TSession::Default())
      .RegisterDriver("memory", TMemoryStore::Instance());
}

}  // namespace tgen
