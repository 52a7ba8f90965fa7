// The record store: what a table cursor needs of a storage back end.
//
// A back end (SQLite, in-memory, ...) gives each cursor its own TTableDriver: one client's
// connection to one table. Rows are found by key values, taken for editing one at a time
// (which keeps every other client out of that row until the edit ends) and stored durably.
// Every failure is an EDatabaseError (or a descendant) carrying the store's reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/base/convert.h"
#include "platform/base/exception.h"

namespace tgen {

enum class TFieldType { ftUnknown, ftString, ftInteger, ftFloat, ftMemo };

// A field as the store reports it. A text field of n characters has DataSize n + 1.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  int DataSize = 0;
};

// A stored value: null, a number or a text.
using TFieldValue = std::variant<std::monostate, double, std::string>;
using TRecord = std::vector<TFieldValue>;  // one value per field, in the order of the defs
// Rows handed one at a time to the function it is given, in order: rows to write, read only as
// they are written, so that a million of them need not be held at once.
using TRecordSource = std::function<void(const std::function<void(const TRecord&)>&)>;
using TRowId = std::int64_t;

struct TLocated {
  TRowId Row = 0;
  TRecord Values;
};

// The outcome of a conditional update: whether it stored, and the row as it is now.
struct TConditional {
  bool Stored = false;
  TRecord Current;
};

// One client's connection to one table. Not thread-safe: one cursor, one thread at a time.
class TTableDriver {
 public:
  TTableDriver() = default;
  TTableDriver(const TTableDriver&) = delete;
  TTableDriver& operator=(const TTableDriver&) = delete;
  virtual ~TTableDriver() = default;

  [[nodiscard]] virtual std::vector<TFieldDef> FieldDefs() = 0;
  // The row whose fields `fields` hold exactly `values`, or nothing.
  virtual std::optional<TLocated> Locate(const std::vector<std::size_t>& fields,
                                         const TRecord& values) = 0;
  // Takes the row for editing and returns its values fetched afresh. Fails while another
  // client edits it, and when the row is gone.
  virtual TRecord Lock(TRowId row) = 0;
  // Lock, but waiting up to `wait` for another client's edit of the row to end, without
  // polling (the store's own lock queue); ELockTimeout when it does not end in time.
  virtual TRecord LockWaiting(TRowId row, std::chrono::milliseconds wait) = 0;
  // Stores the values of a row taken with Lock or LockWaiting durably and ends the edit; returns
  // the row as stored. On failure the edit is ended too and nothing is stored.
  virtual TRecord Update(TRowId row, const TRecord& values) = 0;
  // Ends an edit without storing anything.
  virtual void Unlock(TRowId row) noexcept = 0;
  // Stores `values` into the row in one durable commit, without a Lock first, provided its
  // fields `compare` still hold `expected` (null equals null); waits up to `wait` for another
  // client's edit of the row to end. Returns whether it stored and the row as it is after the
  // call. ELockTimeout when the row stays in edit; ECommitUnknown when the connection went
  // while the commit was under way. By default LockWaiting, a look, then Update or Unlock:
  // right for stores whose lock is taken in-process; a server overrides it to save round
  // trips and the time the row is held.
  virtual TConditional UpdateIf(TRowId row, const std::vector<std::size_t>& compare,
                                const TRecord& expected, const TRecord& values,
                                std::chrono::milliseconds wait);
  // Adds `step` (at least 1) to the text of field `field` in one durable commit, each place
  // counting through its alphabet of `alphabets` (AddInAlphabets: "0099" -> "0100" in digits),
  // provided every character is in its place's alphabet, the text is not above `limit` (of the
  // same places), and the fields `required` hold `expected`; stores `values` into the fields
  // `set` beside it. Each alphabet is in ascending byte order, so that texts compare as the
  // values they count. The store does the step itself, so the row is held no longer than the
  // update. Waits up to `wait` for another client's edit of the row to end. Returns whether it
  // stored and the row as it is after the call; fails as UpdateIf.
  virtual TConditional IncrementIf(TRowId row, std::size_t field, std::int64_t step,
                                   const std::string& limit, const TAlphabets& alphabets,
                                   const std::vector<std::size_t>& required,
                                   const TRecord& expected, const std::vector<std::size_t>& set,
                                   const TRecord& values, std::chrono::milliseconds wait);
  // Stores a new row durably. EKeyViolation when another row holds the same values in the
  // fields `key` (checked inside the transaction that inserts, so that clients inserting at
  // once cannot both pass, whether or not the table declares that key unique) or in a key
  // the table declares unique.
  virtual TLocated Insert(const TRecord& values, const std::vector<std::size_t>& key) = 0;
  // In one durable commit, all or none: overwrites the rows whose fields `key` hold those of
  // each row of `replace` (EDatabaseError when one is gone), then adds the rows of `add`
  // (EKeyViolation when a row holds an added row's values in the fields `key`); an exception
  // from `add` writes nothing either. When `compare` names fields, a row is overwritten only
  // while those fields still hold the values of the row of `expected` at the same place:
  // otherwise ERowsChanged, listing every such row, and nothing is written. For moving many
  // rows in at once (an import); a process killed on the way leaves the table as it was.
  virtual void WriteRows(const std::vector<std::size_t>& key, const TRecordSource& add,
                         const std::vector<TRecord>& replace,
                         const std::vector<std::size_t>& compare,
                         const std::vector<TRecord>& expected) = 0;
  // The unique keys the table declares (its primary key among them), as field indexes.
  [[nodiscard]] virtual std::vector<std::vector<std::size_t>> UniqueKeys() = 0;
  // Every row, in the order the store keeps them.
  virtual std::vector<TLocated> ReadAll() = 0;
  // Every row's values, in the same order, handed to `visit` one at a time: a store that can
  // read row by row keeps only one in memory.
  virtual void ForEachRow(const std::function<void(const TRecord&)>& visit) {
    for (const TLocated& r : ReadAll())
      visit(r.Values);
  }
  // How long any later call may wait for other clients or for the server (a commit that waits
  // for a standby, say) before it fails: ELockTimeout, or ECommitUnknown for a commit. Calls
  // that take their own `wait` keep it. By default the store's own bounds apply.
  virtual void SetWaitLimit(std::chrono::milliseconds /*limit*/) {}
};

// A transaction that the application holds on a database connection of its own
// (TSqliteTransaction, TPgTransaction). A generator table opened through it is read and written
// inside that transaction: a row taken stays taken until the transaction ends, and every change
// commits or rolls back with the application's own records, when the application says so.
// Ends with a rollback unless committed. Not thread-safe.
class TAppTransaction {
 public:
  TAppTransaction() = default;
  TAppTransaction(const TAppTransaction&) = delete;
  TAppTransaction& operator=(const TAppTransaction&) = delete;
  virtual ~TAppTransaction() = default;

  // A driver for `table` in the transaction's database that works inside it: Lock and
  // LockWaiting take the row until the transaction ends; Update, UpdateIf, IncrementIf and
  // Insert write without committing. A statement of the driver that fails leaves the
  // transaction as it was before that statement. EDatabaseError when the transaction has ended.
  virtual std::unique_ptr<TTableDriver> OpenTable(const std::string& table) = 0;
  // Creates a table as TStoreDriver::CreateTable does, inside the transaction.
  virtual void CreateTable(const std::string& table, const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key) = 0;
  // Commits everything done in the transaction, the application's records and the keys drawn
  // for them, as one. ECommitUnknown when the outcome is unknown (the connection broke during
  // the commit, or a server had to be told to stop waiting for it); EDatabaseError when it was
  // refused, which rolls everything back.
  virtual void Commit() = 0;
  // Rolls everything back: every key drawn inside goes back to its sequence. Never throws.
  virtual void Rollback() noexcept = 0;
  // Whether the transaction is still open (neither committed nor rolled back).
  [[nodiscard]] virtual bool Active() const = 0;
  // Names the connection and its session on the server, when a driver that OpenTable returned
  // may also serve later transactions that give the same name (saving the look at the table's
  // layout): then it stays usable for as long as the connection is open, and its destruction
  // touches the connection only while a statement of its own is under way. Empty when every
  // transaction opens its tables afresh.
  [[nodiscard]] virtual std::string Reusable() const { return {}; }
};

// A kind of store, named by the scheme of an alias URI ("sqlite", "memory", ...).
class TStoreDriver {
 public:
  TStoreDriver() = default;
  TStoreDriver(const TStoreDriver&) = delete;
  TStoreDriver& operator=(const TStoreDriver&) = delete;
  virtual ~TStoreDriver() = default;

  // `location` is the part of the URI after the scheme (a hierarchical URI, "scheme://...",
  // comes whole), as ResolveLocation made it.
  virtual std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                                  const std::string& table) = 0;
  virtual std::vector<std::string> TableNames(const std::string& location) = 0;
  // The location an alias names, read by this store's rules: `folder` is the folder of the
  // alias file it was written in, for locations relative to it. As written unless a store
  // says otherwise.
  [[nodiscard]] virtual std::string ResolveLocation(const std::string& location,
                                                    const std::string& /*folder*/) const {
    return location;
  }
  // The alias's URI as it may be shown to anyone: without secrets such as passwords.
  [[nodiscard]] virtual std::string DisplayUri(const std::string& scheme,
                                               const std::string& location) {
    return scheme + ':' + location;
  }
  // Creates a table of `fields`, in that order, in which no two rows share the values of the
  // fields `unique_key` (indexes into `fields`; they may hold no null). A text field of
  // DataSize n + 1 holds n characters. Fails when the table exists. The PostgreSQL store
  // opens only tables with a unique key.
  virtual void CreateTable(const std::string& location, const std::string& table,
                           const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key) = 0;
};

// Refuses table names that could reach outside their alias: empty, "." or "..", or holding
// "/", "\" or a zero byte.
void CheckTableName(std::string_view table);

// Whether one of the unique keys `keys` lies within the fields `fields`, so that the store
// itself keeps two rows from holding the same values there.
bool DeclaresUniqueWithin(const std::vector<std::vector<std::size_t>>& keys,
                          const std::vector<std::size_t>& fields);

// The reading of a store's declared column type: VARCHAR(n)/CHAR(n)/... as ftString of
// DataSize n + 1, DOUBLE/REAL/FLOAT/NUMERIC as ftFloat, INTEGER as ftInteger, TEXT as ftMemo.
TFieldDef FieldDefFromDeclaredType(std::string name, std::string_view declared);

}  // namespace tgen
