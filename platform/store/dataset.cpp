#include "platform/store/dataset.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/base/convert.h"
#include "platform/base/tmstring.h"
#include "platform/store/session.h"

namespace tgen {

// ---------------------------------------------------------------------------------------------
// Fields

namespace {}  // namespace

const TFieldValue& TField::Value() const {
  static const TFieldValue null_value;
  const TRecord& record =
      (table_.state_ == TDataSetState::dsEdit || table_.state_ == TDataSetState::dsInsert)
          ? table_.pending_
          : table_.current_;
  return index_ < record.size() ? record[index_] : null_value;
}

const TFieldValue& TField::Fetched() const {
  static const TFieldValue null_value;
  return index_ < table_.current_.size() ? table_.current_[index_] : null_value;
}

bool TField::IsNull() const {
  return std::holds_alternative<std::monostate>(Value());
}

std::string TField::AsString() const {
  return ToString(Value());
}
double TField::AsFloat() const {
  return ToFloat(Value());
}
std::string TField::FetchedAsString() const {
  return ToString(Fetched());
}
double TField::FetchedAsFloat() const {
  return ToFloat(Fetched());
}

std::string TField::ToString(const TFieldValue& v) const {
  if (const auto* text = std::get_if<std::string>(&v)) return *text;
  if (const auto* number = std::get_if<double>(&v)) return FormatNumber(*number);
  return "";
}

double TField::ToFloat(const TFieldValue& v) const {
  if (const auto* number = std::get_if<double>(&v)) return *number;
  if (const auto* text = std::get_if<std::string>(&v)) {
    double number = 0;
    const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (text->empty() || ec != std::errc() || ptr != text->data() + text->size()) {
      throw EDatabaseError("Field " + FieldName() + " holds '" + *text + "', not a number");
    }
    return number;
  }
  return 0;
}

std::int32_t TField::AsInteger() const {
  const double number = AsFloat();
  if (number < INT32_MIN || number > INT32_MAX) {
    throw EDatabaseError("Field " + FieldName() + " holds a number out of range");
  }
  return static_cast<std::int32_t>(number);
}

void TField::SetAsString(std::string_view value) {
  table_.CheckEditing("modify a field");
  if (def_.DataType == TFieldType::ftFloat || def_.DataType == TFieldType::ftInteger) {
    double number = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || ec != std::errc() || ptr != value.data() + value.size()) {
      throw EDatabaseError("'" + std::string(value) + "' is not a valid value for field " +
                           FieldName());
    }
    SetAsFloat(number);
    return;
  }
  if (def_.DataType == TFieldType::ftString &&
      value.size() > static_cast<std::size_t>(def_.DataSize - 1)) {
    throw EDatabaseError("'" + std::string(value) + "' is longer than the " +
                         std::to_string(def_.DataSize - 1) + " characters of field " + FieldName());
  }
  table_.pending_[index_] = std::string(value);
  table_.changed_[index_] = true;
}

void TField::SetAsFloat(double value) {
  table_.CheckEditing("modify a field");
  if (def_.DataType == TFieldType::ftString || def_.DataType == TFieldType::ftMemo) {
    SetAsString(FormatNumber(value));
    return;
  }
  table_.pending_[index_] = value;
  table_.changed_[index_] = true;
}

// ---------------------------------------------------------------------------------------------
// The cursor

TTable::TTable(TComponent* AOwner) : TComponent(AOwner) {}

TTable::~TTable() {
  Close();
}

void TTable::Open() {
  if (Active()) return;
  std::unique_ptr<TTableDriver> driver =
      opener_ ? opener_(database_name_, table_name_)
              : TSession::Default().OpenTable(database_name_, table_name_);
  const std::vector<TFieldDef> defs = driver->FieldDefs();
  fields_.clear();
  fields_.reserve(defs.size());
  for (std::size_t i = 0; i < defs.size(); ++i)
    fields_.emplace_back(*this, i, defs[i]);
  driver_ = std::move(driver);
  state_ = TDataSetState::dsBrowse;
  row_.reset();
  current_.assign(fields_.size(), TFieldValue{});
}

void TTable::Close() noexcept {
  if (!Active()) return;
  if (locked_ && row_) {
    try {
      driver_->Unlock(*row_);
    } catch (...) {
      // Closing goes on: the connection goes, and the store ends the edit with it.
    }
  }
  locked_ = false;
  driver_.reset();
  fields_.clear();
  state_ = TDataSetState::dsInactive;
  row_.reset();
}

void TTable::CheckActive() const {
  if (!Active()) throw EDatabaseError("Table " + table_name_ + " is not open");
}

void TTable::CheckEditing(const char* what) const {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) {
    throw EDatabaseError(std::string("Cannot ") + what + ": table " + table_name_ +
                         " is not in edit or insert mode");
  }
}

TField* TTable::FindField(std::string_view name) {
  // Names are matched without regard to case; the exact spelling, which callers nearly always
  // use, is looked for first because it is much cheaper to compare.
  for (TField& f : fields_) {
    if (f.FieldName() == name) return &f;
  }
  for (TField& f : fields_) {
    if (CompareText(f.FieldName(), name) == 0) return &f;
  }
  return nullptr;
}

TField& TTable::FieldByName(std::string_view name) {
  CheckActive();
  TField* field = FindField(name);
  if (field == nullptr) {
    throw EDatabaseError("Field '" + std::string(name) + "' not found in " + table_name_);
  }
  return *field;
}

std::vector<std::size_t> TTable::FieldIndexes(std::string_view names) {
  std::vector<std::size_t> indexes;
  std::size_t start = 0;
  while (start <= names.size()) {
    const std::size_t end = std::min(names.find(';', start), names.size());
    indexes.push_back(FieldByName(names.substr(start, end - start)).Index());
    start = end + 1;
  }
  return indexes;
}

bool TTable::Locate(std::string_view keyFields, const TRecord& values) {
  CheckActive();
  const std::vector<std::size_t> indexes = FieldIndexes(keyFields);
  if (indexes.size() != values.size()) {
    throw EDatabaseError("Locate: " + std::to_string(indexes.size()) + " key fields, " +
                         std::to_string(values.size()) + " values");
  }
  Cancel();  // a pending edit is dropped, never stored on the way
  const std::optional<TLocated> found = driver_->Locate(indexes, values);
  if (!found) {
    row_.reset();
    current_.assign(fields_.size(), TFieldValue{});
    return false;
  }
  row_ = found->Row;
  current_ = found->Values;
  return true;
}

void TTable::Edit() {
  TakeForEdit([this](TRowId row) { return driver_->Lock(row); });
}

void TTable::EditWaiting(std::chrono::milliseconds wait) {
  TakeForEdit([this, wait](TRowId row) { return driver_->LockWaiting(row, wait); });
}

void TTable::TakeForEdit(const std::function<TRecord(TRowId)>& lock) {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) return;
  if (state_ == TDataSetState::dsEdit && locked_) return;
  if (!row_) throw EDatabaseError("Cannot edit: table " + table_name_ + " has no current row");
  TRecord fresh = lock(*row_);
  locked_ = true;
  current_ = fresh;
  if (state_ == TDataSetState::dsEdit) {
    // Taken again after a failed Post: the fresh row with what was pending on top.
    for (std::size_t i = 0; i < fresh.size() && i < pending_.size(); ++i) {
      if (changed_[i]) fresh[i] = pending_[i];
    }
    pending_ = std::move(fresh);
    return;
  }
  pending_ = std::move(fresh);
  changed_.assign(fields_.size(), false);
  state_ = TDataSetState::dsEdit;
}

bool TTable::HasUniqueKeyWithin(std::string_view fieldNames) {
  CheckActive();
  return DeclaresUniqueWithin(driver_->UniqueKeys(), FieldIndexes(fieldNames));
}

std::vector<TRecord> TTable::ReadAll() {
  CheckActive();
  std::vector<TRecord> rows;
  for (TLocated& r : driver_->ReadAll())
    rows.push_back(std::move(r.Values));
  return rows;
}

void TTable::ForEachRow(const std::function<void(const TRecord&)>& visit) {
  CheckActive();
  driver_->ForEachRow(visit);
}

void TTable::WriteRows(std::string_view keyFields, const std::vector<TRecord>& add,
                       const std::vector<TRecord>& replace) {
  WriteRows(
      keyFields,
      [&add](const std::function<void(const TRecord&)>& write) {
        for (const TRecord& r : add)
          write(r);
      },
      replace);
}

void TTable::WriteRows(std::string_view keyFields, const TRecordSource& add,
                       const std::vector<TRecord>& replace, std::string_view compareFields,
                       const std::vector<TRecord>& expected) {
  CheckActive();
  if (state_ != TDataSetState::dsBrowse)
    throw EDatabaseError("Table " + table_name_ + ": rows are written in browse mode only");
  const std::vector<std::size_t> compare =
      compareFields.empty() ? std::vector<std::size_t>{} : FieldIndexes(compareFields);
  if (!compare.empty() && expected.size() != replace.size())
    throw EDatabaseError("Table " + table_name_ +
                         ": every row to overwrite needs its expected row");
  row_.reset();
  driver_->WriteRows(FieldIndexes(keyFields), add, replace, compare, expected);
}

void TTable::SetWaitLimit(std::chrono::milliseconds limit) {
  CheckActive();
  driver_->SetWaitLimit(limit);
}

void TTable::Insert() {
  CheckActive();
  Cancel();
  pending_.assign(fields_.size(), TFieldValue{});
  changed_.assign(fields_.size(), false);
  state_ = TDataSetState::dsInsert;
}

void TTable::Post() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    const std::vector<std::size_t> key =
        key_field_names_.empty() ? std::vector<std::size_t>{} : FieldIndexes(key_field_names_);
    TLocated stored = driver_->Insert(pending_, key);
    row_ = stored.Row;
    current_ = std::move(stored.Values);
  } else if (state_ == TDataSetState::dsEdit) {
    if (!locked_) Edit();  // a failed Post gave the row back: take it again first
    locked_ = false;       // the driver ends the edit whether the update works or not
    current_ = driver_->Update(*row_, pending_);
  } else {
    throw EDatabaseError("Cannot post: table " + table_name_ + " is not in edit or insert mode");
  }
  state_ = TDataSetState::dsBrowse;
}

void TTable::EditUnlocked() {
  CheckActive();
  if (!row_) throw EDatabaseError("Cannot edit: table " + table_name_ + " has no current row");
  Cancel();
  pending_ = current_;
  changed_.assign(fields_.size(), false);
  state_ = TDataSetState::dsEdit;
}

bool TTable::PostIfUnchanged(std::string_view compareFields, std::chrono::milliseconds wait) {
  CheckActive();
  if (state_ != TDataSetState::dsEdit || locked_) {
    throw EDatabaseError("Cannot post: table " + table_name_ + " is not in an unlocked edit");
  }
  state_ = TDataSetState::dsBrowse;  // whatever happens, the pending values are spent
  const std::vector<std::size_t> compare = FieldIndexes(compareFields);
  TRecord expected;
  for (const std::size_t f : compare)
    expected.push_back(f < current_.size() ? current_[f] : TFieldValue{});
  TConditional outcome = driver_->UpdateIf(*row_, compare, expected, pending_, wait);
  current_ = std::move(outcome.Current);
  return outcome.Stored;
}

bool TTable::IncrementIf(std::string_view field, std::int64_t step, const std::string& limit,
                         const TAlphabets& alphabets, const TNamedValues& required,
                         const TNamedValues& values, std::chrono::milliseconds wait) {
  CheckActive();
  if (!row_) throw EDatabaseError("Cannot post: table " + table_name_ + " has no current row");
  if (state_ != TDataSetState::dsBrowse) {
    throw EDatabaseError("Cannot post: table " + table_name_ + " is in edit or insert mode");
  }
  const auto split = [this](const TNamedValues& named, std::vector<std::size_t>& fields,
                            TRecord& record) {
    fields.resize(named.size());
    record.resize(named.size());
    for (std::size_t i = 0; i < named.size(); ++i) {
      fields[i] = FieldByName(named[i].first).Index();
      record[i] = named[i].second;  // assigned in place: a text reuses the room it had
    }
  };
  split(required, increment_.required, increment_.expected);
  split(values, increment_.set, increment_.values);
  TConditional outcome = driver_->IncrementIf(*row_, FieldByName(field).Index(), step, limit,
                                              alphabets, increment_.required, increment_.expected,
                                              increment_.set, increment_.values, wait);
  current_ = std::move(outcome.Current);
  return outcome.Stored;
}

void TTable::Cancel() noexcept {
  if (state_ == TDataSetState::dsEdit && locked_ && row_) {
    locked_ = false;
    driver_->Unlock(*row_);
  }
  locked_ = false;
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    state_ = TDataSetState::dsBrowse;
  }
}

}  // namespace tgen
