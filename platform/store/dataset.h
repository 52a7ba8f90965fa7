// TTable: a cursor on one table of a record store, with the edit and insert modes of a
// dataset. Each open cursor is one client with its own connection (a TTableDriver).
//
// Field values read are those fetched by the last Locate, Edit or Post of the current row, or
// the pending values while the row is in edit or insert mode. Edit fetches the row afresh and
// keeps every other client out of it until Post or Cancel; Post stores durably. A Post that
// fails leaves the row in edit or insert mode with its pending values, and gives the row back
// to other clients meanwhile; the next Edit takes it again, keeping what is pending. Locate
// drops a pending edit or insert. Failures are EDatabaseError. Not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/component.h"
#include "platform/store/recordstore.h"

namespace tgen {

class TTable;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// One field of an open table.
class TField {
 public:
  TField(TTable& table, std::size_t index, TFieldDef def)
      : table_(table), index_(index), def_(std::move(def)) {}

  [[nodiscard]] const std::string& FieldName() const { return def_.Name; }
  [[nodiscard]] TFieldType DataType() const { return def_.DataType; }
  [[nodiscard]] int DataSize() const { return def_.DataSize; }
  [[nodiscard]] std::size_t Index() const { return index_; }

  [[nodiscard]] bool IsNull() const;
  // Numbers read as text without a fraction when they have none; null reads as "".
  [[nodiscard]] std::string AsString() const;
  // Text reads as a number when it is one; otherwise EDatabaseError. Null reads as 0.
  [[nodiscard]] double AsFloat() const;
  [[nodiscard]] std::int32_t AsInteger() const;
  // The value as the store gave it at the last Locate, Edit or Post, whatever is pending.
  [[nodiscard]] std::string FetchedAsString() const;
  [[nodiscard]] double FetchedAsFloat() const;

  // Set the pending value; only in edit or insert mode. A text longer than a text field holds
  // is refused, never cut.
  void SetAsString(std::string_view value);
  void SetAsFloat(double value);
  void SetAsInteger(std::int32_t value) { SetAsFloat(value); }

 private:
  [[nodiscard]] const TFieldValue& Value() const;
  [[nodiscard]] const TFieldValue& Fetched() const;
  [[nodiscard]] std::string ToString(const TFieldValue& v) const;
  [[nodiscard]] double ToFloat(const TFieldValue& v) const;

  TTable& table_;
  std::size_t index_;
  TFieldDef def_;
};

class TTable : public TComponent {
 public:
  static constexpr std::string_view StaticClassName = "TTable";
  // Opens the table driver of an alias and a table name; by default the session's.
  using Opener = std::function<std::unique_ptr<TTableDriver>(const std::string& alias,
                                                             const std::string& table)>;

  explicit TTable(TComponent* AOwner = nullptr);
  ~TTable() override;
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }

  [[nodiscard]] const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(std::string value) { database_name_ = std::move(value); }
  [[nodiscard]] const std::string& TableName() const { return table_name_; }
  void SetTableName(std::string value) { table_name_ = std::move(value); }
  // The fields that tell rows apart ("GenID;Prefix"). A Post of an insert fails with
  // EKeyViolation when another row holds the same values in them, checked by the store in the
  // transaction that inserts, whether or not the table declares them unique. Empty (the
  // default): only the keys the table declares count.
  [[nodiscard]] const std::string& KeyFieldNames() const { return key_field_names_; }
  void SetKeyFieldNames(std::string names) { key_field_names_ = std::move(names); }
  // Replaces how Open reaches the store (tests, tools).
  void SetOpener(Opener opener) { opener_ = std::move(opener); }

  // Connects to the store and reads the field list; EDatabaseError when the alias or the table
  // cannot be reached or opened.
  void Open();
  // Drops any pending edit and disconnects. Never throws.
  void Close() noexcept;
  [[nodiscard]] bool Active() const { return driver_ != nullptr; }
  [[nodiscard]] TDataSetState State() const { return state_; }

  [[nodiscard]] int FieldCount() const { return static_cast<int>(fields_.size()); }
  [[nodiscard]] TField* FindField(std::string_view name);
  // The field of that name; EDatabaseError when there is none.
  TField& FieldByName(std::string_view name);

  // Makes the row whose `keyFields` ("GenID;Prefix") hold `values` the current row. False,
  // with no current row, when none matches.
  bool Locate(std::string_view keyFields, const TRecord& values);
  void Edit();
  // Edit, but waiting up to `wait` for another client's edit of the row to end (Edit itself
  // fails at once, or after the store's own short busy wait); ELockTimeout when it does not.
  void EditWaiting(std::chrono::milliseconds wait);
  // Pending values over the current row as last fetched, without taking the row: only
  // PostIfUnchanged stores them (Post takes the row first, as after Edit).
  void EditUnlocked();
  void Insert();
  void Post();
  // Stores the pending values of EditUnlocked in one durable commit, provided the fields
  // `compareFields` ("Suffix;Time") still hold what was last fetched, waiting up to `wait` for
  // another client's edit of the row to end. Returns whether it stored; either way the row is
  // fetched afresh and the table is in browse mode. ELockTimeout, ECommitUnknown and
  // EDatabaseError leave it in browse mode too.
  bool PostIfUnchanged(std::string_view compareFields, std::chrono::milliseconds wait);
  // Has the store add `step` to the text of `field`, each place counting through its alphabet,
  // in one durable commit, when every character is in its place's alphabet, the text is not
  // above `limit` and the `required` fields hold their values (TTableDriver::IncrementIf);
  // sets `values` beside it. Waits up to `wait` for another client's edit of the
  // row. Returns whether it stored; either way the current row is fetched afresh. Browse mode
  // only; fails as PostIfUnchanged.
  using TNamedValues = std::vector<std::pair<std::string_view, TFieldValue>>;
  bool IncrementIf(std::string_view field, std::int64_t step, const std::string& limit,
                   const TAlphabets& alphabets, const TNamedValues& required,
                   const TNamedValues& values, std::chrono::milliseconds wait);
  // How long a call may wait for other clients or the server before it fails (see
  // TTableDriver::SetWaitLimit); only while open.
  void SetWaitLimit(std::chrono::milliseconds limit);
  // Ends an edit or insert without storing it. Never throws: it runs in clean-up paths.
  void Cancel() noexcept;
  // Whether the table declares a unique key made of some of `fieldNames` ("GenID;Prefix"), so
  // that the store itself keeps their values from repeating.
  bool HasUniqueKeyWithin(std::string_view fieldNames);
  // Every row of the table, for tools; the current row does not change.
  std::vector<TRecord> ReadAll();
  // Every row, one at a time (TTableDriver::ForEachRow).
  void ForEachRow(const std::function<void(const TRecord&)>& visit);
  // Adds the rows `add` and overwrites those whose `keyFields` ("GenID;Prefix") hold the values
  // of a row of `replace`, in one durable commit: all or none (TTableDriver::WriteRows). The
  // current row is dropped. Browse mode only.
  // With `compareFields` ("Suffix;Time"), a row is overwritten only while those fields still
  // hold the values of the row of `expected` at the same place; else ERowsChanged and nothing
  // is written.
  void WriteRows(std::string_view keyFields, const TRecordSource& add,
                 const std::vector<TRecord>& replace, std::string_view compareFields = {},
                 const std::vector<TRecord>& expected = {});
  void WriteRows(std::string_view keyFields, const std::vector<TRecord>& add,
                 const std::vector<TRecord>& replace);

 private:
  friend class TField;
  void CheckActive() const;
  void CheckEditing(const char* what) const;
  // Edit and EditWaiting: `lock` takes the current row from the driver.
  void TakeForEdit(const std::function<TRecord(TRowId)>& lock);
  // The indexes of the fields named in `names`, separated by ";".
  std::vector<std::size_t> FieldIndexes(std::string_view names);

  std::string database_name_;
  std::string table_name_;
  std::string key_field_names_;
  Opener opener_;
  std::unique_ptr<TTableDriver> driver_;
  std::vector<TField> fields_;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::optional<TRowId> row_;  // the current row
  TRecord current_;            // its values as last fetched
  TRecord pending_;            // in edit or insert mode
  std::vector<bool> changed_;  // which pending values were set
  bool locked_ = false;        // the driver holds the row for this cursor's edit
  // IncrementIf's fields and values as the driver takes them, kept from call to call so that
  // a generator drawing key after key allocates nothing for them.
  struct IncrementArgs {
    std::vector<std::size_t> required, set;
    TRecord expected, values;
  };
  IncrementArgs increment_;
};

// Ends the table's edit or insert without storing it when the scope is left, unless a Post
// ended it first: every early return and every exception on the way gives the row back.
// Declared first inside a try block, it has given the row back before the handler runs.
class TEditGuard {
 public:
  explicit TEditGuard(TTable& table) : table_(table) {}
  TEditGuard(const TEditGuard&) = delete;
  TEditGuard& operator=(const TEditGuard&) = delete;
  ~TEditGuard() { table_.Cancel(); }

 private:
  TTable& table_;
};

}  // namespace tgen
