#include "platform/store/sqlitestore.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#include "platform/store/session.h"
#include "platform/store/sqliteconnection.h"
#include "platform/store/sqltext.h"

namespace tgen {

namespace {

namespace fs = std::filesystem;
using sqlite::Bind;
using sqlite::Column;
using sqlite::Connection;
using sqlite::Fail;
using sqlite::FailCommit;
using sqlite::Stmt;
using sqlite::Used;

// The one SQL table that a table file holds.
std::string SoleTable(Connection& c) {
  Stmt stmt = c.Prepare(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
      "ESCAPE '\\'");
  std::vector<std::string> names;
  int rc = 0;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  if (rc != SQLITE_DONE) Fail(c.Get(), rc, "Cannot read table " + c.Label());
  if (names.size() != 1) {
    throw EDatabaseError("Table file " + c.Label() + " holds " + std::to_string(names.size()) +
                         " tables instead of one");
  }
  return names.front();
}

class SqliteTable final : public TTableDriver {
 public:
  static constexpr TParamStyle kStyle = TParamStyle::kQuestion;

  // A table of an alias, on a connection of its own: the one table of a table file, or (`named`)
  // the table of that name in a database file of many.
  SqliteTable(const std::string& path, const std::string& table,
              std::chrono::milliseconds busy_timeout, bool named = false)
      : conn_(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, table, busy_timeout) {
    if (sqlite3_db_readonly(conn_.Get(), "main") == 1) {
      throw EDatabaseError("Table " + table + " is read-only (" + path + ")");
    }
    // The journal mode belongs to the file (tables made here use WAL); opening changes nothing.
    conn_.Exec("PRAGMA synchronous = FULL", "Cannot open table " + table);
    ReadLayout(named ? table : SoleTable(conn_));
    if (defs_.empty()) {
      throw EDatabaseError("Table " + table + " does not exist in " + path,
                           TErrorKind::kUnavailable);
    }
  }

  // The table `table` of the application's database, inside the transaction it holds.
  SqliteTable(sqlite3* lent, const std::string& table) : conn_(lent, table) {
    ReadLayout(table);
    if (defs_.empty())
      throw EDatabaseError("Table " + table + " does not exist", TErrorKind::kUnavailable);
  }

  ~SqliteTable() override { conn_.Rollback(); }
  SqliteTable(const SqliteTable&) = delete;
  SqliteTable& operator=(const SqliteTable&) = delete;

 private:
  // Throws for a transaction that did not begin: ELockTimeout when the write lock stayed taken
  // for `wait`, `what` and SQLite's reason otherwise.
  void CheckBegun(int rc, std::chrono::milliseconds wait, const std::string& what) {
    if ((rc & 0xFF) == SQLITE_BUSY) {
      throw ELockTimeout("Table " + conn_.Label() + ": another client kept the table for " +
                         std::to_string(wait.count()) + " ms");
    }
    if (rc != SQLITE_OK) Fail(conn_.Get(), rc, what);
  }

  void ReadLayout(const std::string& table) {
    const std::string& label = conn_.Label();
    raw_name_ = table;
    sql_table_ = QuoteIdentifier(raw_name_);
    Stmt info = conn_.Prepare("SELECT name, type FROM pragma_table_info(?1)");
    Bind(conn_, info.get(), 1, raw_name_);
    int rc = 0;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
      const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
      defs_.push_back(
          FieldDefFromDeclaredType(name != nullptr ? name : "", type != nullptr ? type : ""));
    }
    if (rc != SQLITE_DONE) Fail(conn_.Get(), rc, "Cannot read the fields of table " + label);
    select_ = "SELECT rowid, " + ColumnList(defs_, AllFields(defs_.size())) + " FROM " + sql_table_;
    fetch_sql_ = select_ + " WHERE rowid = ?1";
    read_failed_ = "Cannot read table " + label;
    store_failed_ = "Cannot store a row of table " + label;
  }

 public:
  std::vector<TFieldDef> FieldDefs() override { return defs_; }

  std::optional<TLocated> Locate(const std::vector<std::size_t>& fields,
                                 const TRecord& values) override {
    const std::string where =
        fields.empty() ? "" : " WHERE " + Assignments(defs_, fields, " AND ", kStyle, 1);
    const Used stmt(conn_.Cached(select_ + where + " LIMIT 1"));
    for (std::size_t i = 0; i < values.size(); ++i) {
      Bind(conn_, stmt.Get(), static_cast<int>(i + 1), values[i]);
    }
    TLocated found;
    if (!Step(stmt.Get(), found, "Cannot read table " + conn_.Label())) return std::nullopt;
    return found;
  }

  std::vector<std::vector<std::size_t>> UniqueKeys() override {
    std::vector<std::vector<std::size_t>> keys;
    Stmt indexes = conn_.Prepare("SELECT name FROM pragma_index_list(?1) WHERE \"unique\"");
    Bind(conn_, indexes.get(), 1, raw_name_);
    while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
      const auto* index = reinterpret_cast<const char*>(sqlite3_column_text(indexes.get(), 0));
      Stmt columns = conn_.Prepare("SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
      Bind(conn_, columns.get(), 1, std::string(index != nullptr ? index : ""));
      std::vector<std::size_t> key;
      while (sqlite3_step(columns.get()) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
        for (std::size_t f = 0; f < defs_.size(); ++f) {
          if (name != nullptr && defs_[f].Name == name) key.push_back(f);
        }
      }
      if (!key.empty()) keys.push_back(std::move(key));
    }
    return keys;
  }

  TRecord Lock(TRowId row) override {
    conn_.Begin("Cannot edit a row of table " + conn_.Label());
    try {
      return Remember(row, Fetch(row));
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  TRecord LockWaiting(TRowId row, std::chrono::milliseconds wait) override {
    // The write lock is the whole file's: wait for it under a busy timeout of `wait`.
    const int rc = conn_.Lent()
                       ? SQLITE_OK
                       : conn_.WithBusyTimeout(wait, [&] { return conn_.Run("BEGIN IMMEDIATE"); });
    CheckBegun(rc, wait, "Cannot edit a row of table " + conn_.Label());
    try {
      return Remember(row, Fetch(row));
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  TRecord Update(TRowId row, const TRecord& values) override {
    try {
      const std::string what = "Cannot store a row of table " + conn_.Label();
      // Only the fields that differ from the row as Lock fetched it are written: a field of an
      // index left alone keeps the index's pages out of the commit.
      std::vector<std::size_t> fields;
      for (std::size_t i = 0; i < defs_.size(); ++i) {
        const TFieldValue& value = i < values.size() ? values[i] : TFieldValue{};
        if (!locked_ || locked_->first != row || locked_->second.at(i) != value)
          fields.push_back(i);
      }
      TLocated stored{row, locked_ && locked_->first == row ? locked_->second : TRecord{}};
      if (!fields.empty()) {
        {
          const Used stmt(conn_.Cached("UPDATE " + sql_table_ + " SET " +
                                       Assignments(defs_, fields, ", ", kStyle, 1) +
                                       " WHERE rowid = " + ParamMark(kStyle, fields.size() + 1)));
          for (std::size_t k = 0; k < fields.size(); ++k) {
            Bind(conn_, stmt.Get(), static_cast<int>(k + 1),
                 fields[k] < values.size() ? values[fields[k]] : TFieldValue{});
          }
          sqlite3_bind_int64(stmt.Get(), static_cast<int>(fields.size() + 1), row);
          const int rc = sqlite3_step(stmt.Get());
          if (rc != SQLITE_DONE) Fail(conn_.Get(), rc, what);
        }
        // The row as stored, read back in the same transaction: a value the column's type
        // converted comes back converted.
        stored.Values = Fetch(row);
      }
      locked_.reset();
      conn_.Commit(what);
      return std::move(stored.Values);
    } catch (...) {
      locked_.reset();
      conn_.Rollback();
      throw;
    }
  }

  TConditional IncrementIf(TRowId row, std::size_t field, std::int64_t step,
                           const std::string& limit, const TAlphabets& alphabets,
                           const std::vector<std::size_t>& required, const TRecord& expected,
                           const std::vector<std::size_t>& set, const TRecord& values,
                           std::chrono::milliseconds wait) override {
    // Decimal texts that 64-bit integers hold are stepped by SQLite; the others the general way
    // (inside the write lock, which covers the whole file anyway).
    if (limit.size() > 18 || !IsDecimal(alphabets)) {
      return TTableDriver::IncrementIf(row, field, step, limit, alphabets, required, expected, set,
                                       values, wait);
    }
    // One transaction and one commit, as a counter row is stepped: the write lock, the update,
    // the row read back by its rowid. (An UPDATE ... RETURNING would build a temporary table for
    // the returned row on every call, which costs SQLite more than the rest of the step.)
    CheckBegun(conn_.BeginUnit(wait), wait, store_failed_);
    try {
      bool stored = false;
      {
        const Used stmt(conn_.Cached(IncrementSql(field, required, set)));
        sqlite3_bind_int64(stmt.Get(), 1, static_cast<sqlite3_int64>(limit.size()));
        sqlite3_bind_int64(stmt.Get(), 2, step);
        sqlite3_bind_int64(stmt.Get(), 3, row);
        // The texts outlive the statement's use: bound without copies.
        sqlite3_bind_text(stmt.Get(), 4, limit.data(), static_cast<int>(limit.size()),
                          SQLITE_STATIC);
        int index = 5;
        for (const TFieldValue& v : values)
          Bind(conn_, stmt.Get(), index++, v, false);
        for (const TFieldValue& v : expected)
          Bind(conn_, stmt.Get(), index++, v, false);
        const int done = sqlite3_step(stmt.Get());
        if (done != SQLITE_DONE) Fail(conn_.Get(), done, store_failed_);
        stored = sqlite3_changes(conn_.Get()) > 0;
      }
      TRecord current = Fetch(row);
      conn_.CommitUnit(store_failed_);  // only now is the key stored
      return {stored, std::move(current)};
    } catch (...) {
      conn_.UndoUnit();
      throw;
    }
  }

  void Unlock(TRowId /*row*/) noexcept override {
    locked_.reset();
    conn_.Rollback();
  }

  std::vector<TLocated> ReadAll() override {
    Stmt stmt = conn_.Prepare(select_ + " ORDER BY rowid");
    std::vector<TLocated> rows;
    TLocated row;
    while (Step(stmt.get(), row, "Cannot read table " + conn_.Label()))
      rows.push_back(row);
    return rows;
  }

  void ForEachRow(const std::function<void(const TRecord&)>& visit) override {
    Stmt stmt = conn_.Prepare(select_ + " ORDER BY rowid");
    TLocated row;
    while (Step(stmt.get(), row, "Cannot read table " + conn_.Label()))
      visit(row.Values);
  }

  void WriteRows(const std::vector<std::size_t>& key, const TRecordSource& add,
                 const std::vector<TRecord>& replace, const std::vector<std::size_t>& compare,
                 const std::vector<TRecord>& expected) override {
    const std::string what = "Cannot write the rows of table " + conn_.Label();
    // The write lock covers the whole file: nobody adds or changes a row meanwhile, and a
    // process killed before the commit leaves the file as it was.
    conn_.Begin(what);
    try {
      const std::vector<std::size_t> all = AllFields(defs_.size());
      std::vector<std::size_t> matched = key;
      matched.insert(matched.end(), compare.begin(), compare.end());
      const std::string match = " WHERE " + Assignments(defs_, matched, " AND ", kStyle, 1);
      std::vector<std::size_t> changed;
      for (std::size_t i = 0; i < replace.size(); ++i) {
        const TRecord& r = replace[i];
        Stmt stmt =
            conn_.Prepare("UPDATE " + sql_table_ + " SET " +
                          Assignments(defs_, all, ", ", kStyle, matched.size() + 1) + match);
        int index = 1;
        for (const std::size_t f : key)
          Bind(conn_, stmt.get(), index++, r.at(f));
        for (const std::size_t f : compare)
          Bind(conn_, stmt.get(), index++, expected.at(i).at(f));
        for (std::size_t f = 0; f < defs_.size(); ++f)
          Bind(conn_, stmt.get(), index++, f < r.size() ? r[f] : TFieldValue{});
        const int rc = sqlite3_step(stmt.get());
        if (rc != SQLITE_DONE) Fail(conn_.Get(), rc, what);
        if (sqlite3_changes(conn_.Get()) == 1) continue;
        if (compare.empty()) throw EDatabaseError(what + ": a row to overwrite is gone");
        changed.push_back(i);
      }
      if (!changed.empty())
        throw ERowsChanged(what + ": rows to overwrite changed since they were read", changed);
      Stmt insert = conn_.Prepare(InsertSql(sql_table_, defs_, all, kStyle));
      // A key the table declares unique refuses a second row itself; else each is looked for.
      const bool declared = DeclaresUniqueWithin(UniqueKeys(), key);
      add([&](const TRecord& r) {
        if (!declared) {
          TRecord key_values;
          for (const std::size_t f : key)
            key_values.push_back(r.at(f));
          if (Locate(key, key_values)) throw EKeyViolation(what + ": key violation");
        }
        sqlite3_reset(insert.get());
        for (std::size_t f = 0; f < defs_.size(); ++f)
          Bind(conn_, insert.get(), static_cast<int>(f + 1), f < r.size() ? r[f] : TFieldValue{});
        const int rc = sqlite3_step(insert.get());
        if (rc != SQLITE_DONE) Fail(conn_.Get(), rc, what);
      });
      conn_.Commit(what);
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  TLocated Insert(const TRecord& values, const std::vector<std::size_t>& key) override {
    std::vector<std::size_t> given;  // fields with a value; the others keep their defaults
    for (std::size_t i = 0; i < defs_.size() && i < values.size(); ++i) {
      if (!std::holds_alternative<std::monostate>(values[i])) given.push_back(i);
    }
    // The write lock of BEGIN IMMEDIATE covers the whole file, and with it the table: no other
    // client can add the same key between the look and the insert.
    conn_.Begin("Cannot add a row to table " + conn_.Label());
    try {
      if (!key.empty()) {
        TRecord key_values;
        for (const std::size_t f : key)
          key_values.push_back(f < values.size() ? values[f] : TFieldValue{});
        if (Locate(key, key_values)) {
          throw EKeyViolation("Cannot add a row to table " + conn_.Label() + ": key violation");
        }
      }
      Stmt stmt = conn_.Prepare(InsertSql(sql_table_, defs_, given, kStyle));
      for (std::size_t i = 0; i < given.size(); ++i) {
        Bind(conn_, stmt.get(), static_cast<int>(i + 1), values[given[i]]);
      }
      const int rc = sqlite3_step(stmt.get());
      if (rc != SQLITE_DONE) Fail(conn_.Get(), rc, "Cannot add a row to table " + conn_.Label());
      const TRowId row = sqlite3_last_insert_rowid(conn_.Get());
      TLocated stored{row, Fetch(row)};
      conn_.Commit("Cannot add a row to table " + conn_.Label());
      return stored;
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

 private:
  // The conditional step's UPDATE: ?1 width, ?2 step, ?3 rowid, ?4 limit, then the values of
  // `set`, then those of `required`.
  const std::string& IncrementSql(std::size_t field, const std::vector<std::size_t>& required,
                                  const std::vector<std::size_t>& set) {
    if (!increment_sql_.empty() && field == increment_shape_.field &&
        required == increment_shape_.required && set == increment_shape_.set) {
      return increment_sql_;
    }
    const std::string column = QuoteIdentifier(defs_.at(field).Name);
    // Zero-padded to the width ?1 by taking the last ?1 characters of a run of zeros and the
    // sum (at most 18 digits, which the limit keeps it within).
    std::string sql = "UPDATE " + sql_table_ + " SET " + column +
                      " = substr('000000000000000000' || (CAST(" + column +
                      " AS INTEGER) + ?2), -?1)";
    int next = 5;
    for (const std::size_t f : set)
      sql += ", " + QuoteIdentifier(defs_.at(f).Name) + " = ?" + std::to_string(next++);
    sql += " WHERE rowid = ?3 AND length(" + column + ") = ?1 AND " + column +
           " NOT GLOB '*[^0-9]*' AND " + column + " <= ?4";
    for (const std::size_t f : required)
      sql += " AND " + QuoteIdentifier(defs_.at(f).Name) + " IS ?" + std::to_string(next++);
    increment_shape_ = {field, required, set};
    increment_sql_ = std::move(sql);
    return increment_sql_;
  }

  // Reads one row of `stmt` (rowid first); false when there is none.
  bool Step(sqlite3_stmt* stmt, TLocated& out, const std::string& what) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) Fail(conn_.Get(), rc, what);
    out.Row = sqlite3_column_int64(stmt, 0);
    out.Values.clear();
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      out.Values.push_back(Column(stmt, static_cast<int>(i + 1)));
    }
    return true;
  }

  // Keeps the row a Lock fetched, for the Update that follows.
  TRecord Remember(TRowId row, TRecord values) {
    locked_.emplace(row, values);
    return values;
  }

  TRecord Fetch(TRowId row) {
    const Used stmt(conn_.Cached(fetch_sql_));
    sqlite3_bind_int64(stmt.Get(), 1, row);
    TLocated found;
    if (!Step(stmt.Get(), found, read_failed_)) {
      throw EDatabaseError("The row of table " + conn_.Label() + " was deleted");
    }
    return std::move(found.Values);
  }

  Connection conn_;
  std::string raw_name_;   // the SQL table as the file names it
  std::string sql_table_;  // and quoted
  std::vector<TFieldDef> defs_;
  std::string select_;
  std::string fetch_sql_;                             // one row by its rowid
  std::string read_failed_;                           // what a failed read says
  std::string store_failed_;                          // and a failed write
  std::optional<std::pair<TRowId, TRecord>> locked_;  // the row as the last Lock fetched it

  // The text of IncrementIf's statement for the last shape asked for: a generator asks for the
  // same one on every draw, and building it anew costs more than the rest of the call.
  struct IncrementShape {
    std::size_t field = 0;
    std::vector<std::size_t> required;
    std::vector<std::size_t> set;
  };
  IncrementShape increment_shape_;
  std::string increment_sql_;
};

bool IsSqliteFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char header[16] = {};
  in.read(header, sizeof header);
  return in.gcount() == sizeof header && std::string(header, 15) == "SQLite format 3";
}

}  // namespace

std::unique_ptr<TTableDriver> TSqliteDriver::OpenTable(const std::string& location,
                                                       const std::string& table) {
  CheckTableName(table);
  const fs::path path = fs::path(location) / table;
  std::error_code ec;
  if (fs::is_regular_file(location, ec) && IsSqliteFile(location)) {
    return std::make_unique<SqliteTable>(location, table, busy_timeout_, true);
  }
  if (!fs::is_directory(location, ec)) {
    throw EDatabaseError("The alias directory " + location + " does not exist",
                         TErrorKind::kUnavailable);
  }
  if (!fs::is_regular_file(path, ec)) {
    throw EDatabaseError("Table " + table + " does not exist in " + location,
                         TErrorKind::kUnavailable);
  }
  return std::make_unique<SqliteTable>(path.string(), table, busy_timeout_);
}

std::vector<std::string> TSqliteDriver::TableNames(const std::string& location) {
  std::error_code ec;
  // A folder not made yet holds no tables: the default alias has none until its first table.
  if (!fs::exists(location, ec) && !ec) return {};
  if (fs::is_regular_file(location, ec) && IsSqliteFile(location)) {
    Connection c(location, SQLITE_OPEN_READONLY, location, busy_timeout_);
    Stmt stmt = c.Prepare(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
        "ESCAPE '\\' ORDER BY name");
    std::vector<std::string> names;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
    return names;
  }
  if (!fs::is_directory(location, ec)) {
    throw EDatabaseError("The alias directory " + location + " is not a directory");
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(location, ec)) {
    if (entry.is_regular_file(ec) && IsSqliteFile(entry.path())) {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void TSqliteDriver::CreateTable(const std::string& location, const std::string& table,
                                const std::vector<TFieldDef>& fields,
                                const std::vector<std::size_t>& unique_key) {
  CheckTableName(table);
  std::error_code ec;
  if (fs::is_regular_file(location, ec) && IsSqliteFile(location)) {
    // A table among the others of a database file, in its journal mode.
    Connection c(location, SQLITE_OPEN_READWRITE, table, busy_timeout_);
    c.Exec(CreateTableSql(table, fields, unique_key), "Cannot create table " + table);
    return;
  }
  fs::create_directories(location, ec);
  if (ec)
    throw EDatabaseError("Cannot create the alias directory " + location + ": " + ec.message());
  const fs::path path = fs::path(location) / table;
  if (fs::exists(path, ec))
    throw EDatabaseError("Table " + table + " already exists in " + location);
  // Made whole under a name of its own and then linked into place, so no client ever opens a
  // half-made table, and of two clients creating it at once one wins and the other is told.
  const fs::path building =
      fs::path(location) / ("." + table + ".new-" + std::to_string(::getpid()));
  fs::remove(building, ec);
  try {
    Connection c(building.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, table,
                 busy_timeout_);
    c.Exec("PRAGMA journal_mode = WAL", "Cannot create table " + table);
    c.Exec("PRAGMA synchronous = FULL", "Cannot create table " + table);
    c.Exec(CreateTableSql(table, fields, unique_key), "Cannot create table " + table);
  } catch (...) {
    fs::remove(building, ec);
    throw;
  }
  const int linked = ::link(building.c_str(), path.c_str());
  const int error = errno;
  fs::remove(building, ec);
  if (linked != 0) {
    if (error == EEXIST) throw EDatabaseError("Table " + table + " already exists in " + location);
    throw EDatabaseError("Cannot create table " + table + " in " + location + ": " +
                         std::strerror(error));
  }
}

TSqliteTransaction::TSqliteTransaction(sqlite3* db, std::chrono::milliseconds wait) : db_(db) {
  if (db_ == nullptr) throw EDatabaseError("Cannot begin a transaction: no SQLite connection");
  // The write lock now, so that no draw inside waits for it and no other writer can come
  // between a read and a write of the transaction. The connection's own busy timeout stays as
  // the application set it; the wait for other writers is bounded here.
  const auto give_up = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) break;
    if ((rc & 0xFF) != SQLITE_BUSY) {
      Fail(db_, rc, "Cannot begin a transaction");
    }
    if (std::chrono::steady_clock::now() >= give_up) {
      throw ELockTimeout("Cannot begin a transaction: another client kept the database for " +
                         std::to_string(wait.count()) + " ms");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(10));  // short: see BusyWait
  }
  active_ = true;
}

TSqliteTransaction::~TSqliteTransaction() {
  Rollback();
}

std::unique_ptr<TTableDriver> TSqliteTransaction::OpenTable(const std::string& table) {
  CheckActive();
  if (sqlite3_get_autocommit(db_) != 0)
    throw ETransactionLost("Cannot open table " + table + ": the transaction has ended");
  CheckTableName(table);
  return std::make_unique<SqliteTable>(db_, table);
}

void TSqliteTransaction::CreateTable(const std::string& table, const std::vector<TFieldDef>& fields,
                                     const std::vector<std::size_t>& unique_key) {
  CheckActive();
  CheckTableName(table);
  const int rc = sqlite3_exec(db_, CreateTableSql(table, fields, unique_key).c_str(), nullptr,
                              nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(db_, rc, "Cannot create table " + table);
}

std::string TSqliteTransaction::Reusable() const {
  const char* file = sqlite3_db_filename(db_, "main");
  return std::to_string(reinterpret_cast<std::uintptr_t>(db_)) + ':' +  // NOLINT: an identity
         (file != nullptr ? file : "");
}

void TSqliteTransaction::Commit() {
  CheckActive();
  sqlite::Connection::ReleaseLent(db_);
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    active_ = false;
    return;
  }
  // Roll the rest back, so that the connection is free for the application's next
  // transaction.
  const std::string reason = sqlite3_errmsg(db_);
  Rollback();
  FailCommit(rc, "Cannot commit the transaction", reason);
}

void TSqliteTransaction::Rollback() noexcept {
  if (!active_) return;
  active_ = false;
  sqlite::Connection::ReleaseLent(db_);
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TSqliteTransaction::CheckActive() const {
  if (!active_) throw EDatabaseError("The transaction has ended");
}

std::string TSqliteDriver::ResolveLocation(const std::string& location,
                                           const std::string& folder) const {
  std::string dir = location;
  if (dir.rfind("~/", 0) == 0) {
    const char* home = std::getenv("HOME");
    dir = std::string(home != nullptr && *home != '\0' ? home : "/tmp") + dir.substr(1);
  }
  fs::path path(dir);
  if (path.is_relative()) path = fs::path(folder) / path;
  return path.lexically_normal().string();
}

void RegisterSqliteStore(TSession* session) {
  (session != nullptr ? *session : TSession::Default())
      .RegisterDriver("sqlite", std::make_shared<TSqliteDriver>());
}

}  // namespace tgen
