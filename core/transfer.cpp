#include "core/transfer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <istream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/gentable.h"
#include "core/rowlock.h"
#include "platform/base/charset.h"
#include "platform/base/convert.h"

namespace tgen {

namespace {

// The columns of a file, in the order the tools show a row.
constexpr const std::array<const char*, 7>& kColumns = genfield::ListOrder;
// What a file must give of a row; the lock's fields (State, Who, Try, Time) left out make a
// free row.
bool Required(std::string_view column) {
  return column == genfield::GenID || column == genfield::Prefix || column == genfield::Suffix;
}

// A number field of a table row as an integer; 0 for null.
std::int64_t Integer(const TFieldValue& v) {
  if (const auto* n = std::get_if<double>(&v)) return static_cast<std::int64_t>(std::llround(*n));
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::int64_t n = 0;
    std::from_chars(s->data(), s->data() + s->size(), n);
    return n;
  }
  return 0;
}

std::string Text(const TFieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* n = std::get_if<double>(&v)) return FormatNumber(*n);
  return "";
}

// The field `name` of a row, as text.
std::string Field(const TSequenceRow& r, std::string_view name) {
  const TRowField& f = RowField(name);
  return f.Number != nullptr ? std::to_string(r.*f.Number) : r.*f.Text;
}

std::string Where(const TSequenceRow& r) {
  return "row " + std::to_string(r.Source);
}

// Sets the field `name` of `r` from the text of a file; ETransferError when a number is none.
void SetField(TSequenceRow& r, std::string_view name, const std::string& text) {
  const TRowField& f = RowField(name);
  if (f.Number != nullptr) {
    std::int64_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < INT32_MIN ||
        n > INT32_MAX) {
      throw ETransferError(Where(r) + ": " + std::string(name) + " '" + text +
                           "' is not a whole number from -2147483648 to 2147483647");
    }
    r.*f.Number = n;
    return;
  }
  r.*f.Text = text;
}

// One field as CSV writes it: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// Reads CSV records (RFC 4180, LF or CRLF line ends) one at a time.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in)
      : text_(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) {}

  // The next record, or nothing at the end; ETransferError for bad quoting.
  std::optional<std::vector<std::string>> Next() {
    if (pos_ >= text_.size()) return std::nullopt;
    ++record_;
    std::vector<std::string> fields(1);
    bool quoted = false;  // inside a quoted field
    bool was_quoted = false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (quoted) {
        if (c != '"') {
          fields.back() += c;
        } else if (pos_ < text_.size() && text_[pos_] == '"') {
          fields.back() += '"';
          ++pos_;
        } else {
          quoted = false;
        }
        continue;
      }
      if (c == ',') {
        fields.emplace_back();
        was_quoted = false;
      } else if (c == '\n' || (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n')) {
        if (c == '\r') ++pos_;
        return fields;
      } else if (c == '"') {
        if (!fields.back().empty() || was_quoted) throw Bad("a quote inside an unquoted field");
        quoted = was_quoted = true;
      } else if (was_quoted) {
        throw Bad("text after the closing quote of a field");
      } else {
        fields.back() += c;
      }
    }
    if (quoted) throw Bad("a quoted field that is never closed");
    return fields;
  }
  [[nodiscard]] std::size_t Record() const { return record_; }

 private:
  [[nodiscard]] ETransferError Bad(const std::string& what) const {
    return ETransferError(
        (record_ <= 1 ? std::string("header") : "row " + std::to_string(record_ - 1)) + ": " +
        what);
  }

  std::string text_;
  std::size_t pos_ = 0;
  std::size_t record_ = 0;
};

// Converts text between character sets; ETransferError naming `what` when a character has no
// place in the other set.
std::string Convert(const char* to, const char* from, const std::string& text,
                    const std::string& what) {
  try {
    return ConvertText(text, from, to, what + " '" + text + "'");
  } catch (const EConvertError& e) {
    throw ETransferError(e.Message());
  }
}

}  // namespace

const std::array<TRowField, 7>& RowFields() {
  static const std::array<TRowField, 7> fields = {{
      {genfield::GenID, &TSequenceRow::GenID},
      {genfield::Prefix, nullptr, &TSequenceRow::Prefix},
      {genfield::Suffix, nullptr, &TSequenceRow::Suffix},
      {genfield::State, &TSequenceRow::State},
      {genfield::Who, nullptr, &TSequenceRow::Who},
      {genfield::Try, &TSequenceRow::Try},
      {genfield::Time, nullptr, &TSequenceRow::Time},
  }};
  return fields;
}

const TRowField& RowField(std::string_view name) {
  for (const TRowField& f : RowFields()) {
    if (name == f.Name) return f;
  }
  throw Exception("no field " + std::string(name) + " in a generator table");
}

namespace {

class TCsvWriter final : public TRowWriter {
 public:
  explicit TCsvWriter(std::ostream& out) : out_(out) {
    for (std::size_t i = 0; i < kColumns.size(); ++i)
      out_ << kColumns[i] << End(i);
  }
  void Row(const TSequenceRow& r) override {
    for (std::size_t i = 0; i < kColumns.size(); ++i)
      out_ << CsvField(Field(r, kColumns[i])) << End(i);
  }
  void End() override { out_.flush(); }

 private:
  // Ends by position: a column's name is compared by its text, never by its address.
  static const char* End(std::size_t i) { return i + 1 == kColumns.size() ? "\r\n" : ","; }
  std::ostream& out_;
};

// As nlohmann's dump(2) of the whole array, one element at a time.
class TJsonWriter final : public TRowWriter {
 public:
  explicit TJsonWriter(std::ostream& out) : out_(out) {}
  void Row(const TSequenceRow& r) override {
    nlohmann::ordered_json row;
    for (const TRowField& f : RowFields()) {
      if (f.Number != nullptr) {
        row[f.Name] = r.*f.Number;
      } else {
        row[f.Name] = Convert("UTF-8", "CP1251", r.*f.Text, Where(r) + ": " + f.Name);
      }
    }
    out_ << (rows_++ == 0 ? "[\n  " : ",\n  ");
    for (const char c : row.dump(2)) {
      out_ << c;
      if (c == '\n') out_ << "  ";
    }
  }
  void End() override { out_ << (rows_ == 0 ? "[]\n" : "\n]\n") << std::flush; }

 private:
  std::ostream& out_;
  std::size_t rows_ = 0;
};

}  // namespace

std::unique_ptr<TRowWriter> CsvWriter(std::ostream& out) {
  return std::make_unique<TCsvWriter>(out);
}
std::unique_ptr<TRowWriter> JsonWriter(std::ostream& out) {
  return std::make_unique<TJsonWriter>(out);
}

void WriteJson(std::ostream& out, const std::vector<TSequenceRow>& rows) {
  const std::unique_ptr<TRowWriter> writer = JsonWriter(out);
  for (const TSequenceRow& r : rows)
    writer->Row(r);
  writer->End();
}

std::vector<TSequenceRow> ReadJson(std::istream& in) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(in);
  } catch (const nlohmann::json::parse_error& e) {
    throw ETransferError("not JSON: syntax error at byte " + std::to_string(e.byte));
  } catch (const nlohmann::json::exception& e) {
    // A number too large for any type, say.
    throw ETransferError(std::string("not JSON this reader takes: ") + e.what());
  }
  if (!doc.is_array()) throw ETransferError("not an array of rows");
  std::vector<TSequenceRow> rows;
  for (const nlohmann::json& item : doc) {
    TSequenceRow row;
    row.Source = rows.size() + 1;
    if (!item.is_object()) throw ETransferError(Where(row) + ": not an object");
    for (const auto& field : item.items()) {
      const std::string& key = field.key();
      const auto* known =
          std::find_if(kColumns.begin(), kColumns.end(), [&](const char* c) { return key == c; });
      if (known == kColumns.end())
        throw ETransferError(Where(row) + ": unknown field '" + key + "'");
    }
    for (const std::string_view c : kColumns) {
      const std::string name(c);
      if (!item.contains(name)) {
        if (!Required(c)) continue;
        throw ETransferError(Where(row) + ": the field " + name + " is missing");
      }
      const nlohmann::json& v = item.at(name);
      if (RowField(c).Number != nullptr) {
        if (!v.is_number_integer())
          throw ETransferError(Where(row) + ": " + name + " " + v.dump() +
                               " is not a whole number");
        // A number above any signed one stays as large as it is, to be refused as such.
        SetField(row, c,
                 v.is_number_unsigned() ? std::to_string(v.get<std::uint64_t>())
                                        : std::to_string(v.get<std::int64_t>()));
      } else {
        if (!v.is_string())
          throw ETransferError(Where(row) + ": " + name + " " + v.dump() + " is not a text");
        SetField(row, c,
                 Convert("CP1251", "UTF-8", v.get<std::string>(), Where(row) + ": " + name));
      }
    }
    rows.push_back(std::move(row));
  }
  CheckSequenceRows(rows);
  return rows;
}

void ForEachSequenceRow(TTable& table, const std::function<void(const TSequenceRow&)>& visit) {
  const std::string problems = GeneratorTableProblems(table);
  if (!problems.empty()) throw Exception("Bad table format: " + problems, TErrorKind::kBadInput);
  std::vector<std::size_t> index;
  for (const TRowField& f : RowFields())
    index.push_back(table.FieldByName(f.Name).Index());
  std::size_t source = 0;
  table.ForEachRow([&](const TRecord& r) {
    TSequenceRow row;
    for (std::size_t i = 0; i < RowFields().size(); ++i) {
      const TRowField& f = RowFields()[i];
      const TFieldValue& v = r.at(index[i]);
      if (f.Number != nullptr) {
        row.*f.Number = Integer(v);
      } else {
        row.*f.Text = Text(v);
      }
    }
    row.Source = ++source;
    visit(row);
  });
}

std::vector<TSequenceRow> ReadSequenceRows(TTable& table) {
  std::vector<TSequenceRow> rows;
  ForEachSequenceRow(table, [&rows](const TSequenceRow& r) { rows.push_back(r); });
  return rows;
}

void WriteCsv(std::ostream& out, const std::vector<TSequenceRow>& rows) {
  const std::unique_ptr<TRowWriter> writer = CsvWriter(out);
  for (const TSequenceRow& r : rows)
    writer->Row(r);
  writer->End();
}

std::vector<TSequenceRow> ReadCsv(std::istream& in) {
  CsvReader reader(in);
  const std::optional<std::vector<std::string>> header = reader.Next();
  if (!header) throw ETransferError("the file is empty: no header line");
  std::vector<std::string_view> columns;
  for (const std::string& name : *header) {
    const auto* known =
        std::find_if(kColumns.begin(), kColumns.end(), [&](const char* c) { return name == c; });
    if (known == kColumns.end()) throw ETransferError("header: unknown column '" + name + "'");
    if (std::find(columns.begin(), columns.end(), *known) != columns.end())
      throw ETransferError("header: column " + name + " twice");
    columns.emplace_back(*known);
  }
  for (const char* c : kColumns) {
    if (Required(c) && std::find(columns.begin(), columns.end(), c) == columns.end())
      throw ETransferError("header: the column " + std::string(c) + " is missing");
  }
  std::vector<TSequenceRow> rows;
  while (std::optional<std::vector<std::string>> fields = reader.Next()) {
    if (fields->size() == 1 && fields->front().empty()) continue;  // an empty line
    TSequenceRow row;
    row.Source = rows.size() + 1;
    if (fields->size() != columns.size()) {
      throw ETransferError(Where(row) + ": " + std::to_string(fields->size()) +
                           " fields where the header names " + std::to_string(columns.size()));
    }
    for (std::size_t i = 0; i < columns.size(); ++i)
      SetField(row, columns[i], (*fields)[i]);
    rows.push_back(std::move(row));
  }
  CheckSequenceRows(rows);
  return rows;
}

void CheckSequenceRows(const std::vector<TSequenceRow>& rows) {
  std::map<std::pair<std::int64_t, std::string>, std::size_t> seen;
  for (const TSequenceRow& r : rows) {
    for (const TFieldDef& def : GeneratorFields()) {
      if (def.DataType != TFieldType::ftString) continue;
      const std::string& text = r.*RowField(def.Name).Text;
      const auto width = static_cast<std::size_t>(def.DataSize - 1);  // less the terminator
      if (text.size() > width) {
        throw ETransferError(Where(r) + ": " + def.Name + " '" + text + "' is longer than the " +
                             std::to_string(width) + " characters a generator table holds");
      }
    }
    const auto [it, added] = seen.emplace(std::pair{r.GenID, r.Prefix}, r.Source);
    if (!added) {
      throw ETransferError(Where(r) + ": the sequence of GenID " + std::to_string(r.GenID) +
                           " and prefix '" + r.Prefix + "' is in row " +
                           std::to_string(it->second) + " already");
    }
  }
}

TImportPlan PlanImport(TTable& table, std::vector<TSequenceRow> rows) {
  CheckSequenceRows(rows);
  std::map<std::pair<std::int64_t, std::string>, TSequenceRow> stored;
  for (TSequenceRow& r : ReadSequenceRows(table))
    stored.emplace(std::pair{r.GenID, r.Prefix}, std::move(r));
  TImportPlan plan;
  for (TSequenceRow& r : rows) {
    if (r.State != rowlock::kFree || r.Try != 0) {  // rows come in free
      plan.Freed += r.State != rowlock::kFree ? 1 : 0;
      r.State = rowlock::kFree;
      r.Try = 0;
    }
    const auto found = stored.find({r.GenID, r.Prefix});
    if (found == stored.end()) {
      plan.Add.push_back(std::move(r));
    } else if (found->second.Suffix == r.Suffix) {
      ++plan.Same;
    } else {
      plan.Conflicts.push_back({found->second, std::move(r)});
    }
  }
  return plan;
}

std::string ReplaceProblem(const TImportPlan::TConflict& c, const TImportOptions& options) {
  if (options.Backwards || c.Imported.Suffix == c.Stored.Suffix) return {};
  const std::string move = "GenID " + std::to_string(c.Stored.GenID) + " prefix '" +
                           c.Stored.Prefix + "' from suffix '" + c.Stored.Suffix + "' to '" +
                           c.Imported.Suffix + "'";
  if (options.Order == nullptr)
    return "cannot tell whether moving " + move + " goes back; no mask tells their order";
  const std::optional<int> order =
      options.Order->CompareSuffixes(c.Imported.Suffix, c.Stored.Suffix);
  if (!order) return "cannot tell whether moving " + move + " goes back: the mask does not fit";
  if (*order < 0) return "moving " + move + " goes back, and keys handed out would repeat";
  return {};
}

void ApplyImport(TTable& table, const TImportPlan& plan, const TImportOptions& options) {
  if (!plan.Conflicts.empty() && !options.Replace) {
    throw ETransferError(std::to_string(plan.Conflicts.size()) +
                         " sequence(s) of the file are in the table already; nothing was "
                         "written (--replace takes the file's rows)");
  }
  std::string refused;
  for (const TImportPlan::TConflict& c : plan.Conflicts) {
    if (const std::string why = ReplaceProblem(c, options); !why.empty()) refused += "\n  " + why;
  }
  if (!refused.empty()) {
    throw ETransferError("nothing was written; refused:" + refused +
                         "\n(--mask tells the order of suffixes; --backwards allows a move back)");
  }
  const auto record = [&](const TSequenceRow& r) {
    TRecord values(static_cast<std::size_t>(table.FieldCount()));
    for (const TRowField& f : RowFields()) {
      const std::size_t i = table.FieldByName(f.Name).Index();
      if (f.Number != nullptr) {
        values[i] = static_cast<double>(r.*f.Number);
      } else {
        values[i] = r.*f.Text;
      }
    }
    return values;
  };
  std::vector<TRecord> add;
  std::vector<TRecord> overwrite;
  std::vector<TRecord> planned;
  for (const TSequenceRow& r : plan.Add)
    add.push_back(record(r));
  for (const TImportPlan::TConflict& c : plan.Conflicts) {
    overwrite.push_back(record(c.Imported));
    planned.push_back(record(c.Stored));
  }
  try {
    // A row is replaced only while it holds what the plan read: a client that drew since
    // moved it on, and the file's suffix may now lie behind keys handed out.
    table.WriteRows(genfield::KeyFields, add, overwrite, "Suffix;State;Who;Try;Time", planned);
  } catch (const ERowsChanged& e) {
    std::map<std::pair<std::int64_t, std::string>, std::string> now;
    for (const TSequenceRow& r : ReadSequenceRows(table))
      now[{r.GenID, r.Prefix}] = r.Suffix;
    std::string changed;
    for (const std::size_t i : e.Rows) {
      const TSequenceRow& was = plan.Conflicts.at(i).Stored;
      const auto found = now.find({was.GenID, was.Prefix});
      changed += "\n  GenID " + std::to_string(was.GenID) + " prefix '" + was.Prefix +
                 "': suffix '" + was.Suffix + "' when planned, " +
                 (found == now.end() ? std::string("gone now") : "'" + found->second + "' now");
    }
    throw ETransferError(std::to_string(e.Rows.size()) +
                         " sequence(s) changed since the import was planned; nothing was "
                         "written:" +
                         changed + "\n(run the import again to plan it anew)");
  }
}

}  // namespace tgen
