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

// Appends one field to `line` as CSV writes it: quoted when it holds a comma, a quote or a
// line end.
void AppendCsvField(std::string& line, std::string_view text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
  });
  if (plain) {
    line += text;
    return;
  }
  line += '"';
  for (const char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

// Reads CSV records (RFC 4180, LF or CRLF line ends) one at a time, a line at a time, each
// line through `decode` first where given; a UTF-8 byte-order mark before the first is skipped.
class CsvReader {
 public:
  CsvReader(std::istream& in,
            const std::function<std::string(std::string_view, std::size_t)>& decode)
      : in_(in), decode_(decode) {}

  // The next record, or nothing at the end; ETransferError for bad quoting.
  std::optional<std::vector<std::string>> Next() {
    if (!ReadLine()) return std::nullopt;
    ++record_;
    std::vector<std::string> fields(1);
    bool quoted = false;  // inside a quoted field
    bool was_quoted = false;
    for (;;) {
      for (std::size_t i = 0; i < line_.size(); ++i) {
        const char c = line_[i];
        if (quoted) {
          if (c != '"') {
            fields.back() += c;
          } else if (i + 1 < line_.size() && line_[i + 1] == '"') {
            fields.back() += '"';
            ++i;
          } else {
            quoted = false;
          }
        } else if (c == ',') {
          fields.emplace_back();
          was_quoted = false;
        } else if (c == '\r' && i + 1 == line_.size()) {
          break;  // a CRLF line end
        } else if (c == '"') {
          if (!fields.back().empty() || was_quoted) throw Bad("a quote inside an unquoted field");
          quoted = was_quoted = true;
        } else if (was_quoted) {
          throw Bad("text after the closing quote of a field");
        } else {
          fields.back() += c;
        }
      }
      if (!quoted) return fields;
      fields.back() += '\n';  // a line end inside a quoted field is part of it
      if (!ReadLine()) throw Bad("a quoted field that is never closed");
    }
  }
  [[nodiscard]] std::size_t Record() const { return record_; }

 private:
  bool ReadLine() {
    if (!std::getline(in_, line_)) return false;
    if (++lines_ == 1 && line_.rfind("\xEF\xBB\xBF", 0) == 0) line_.erase(0, 3);
    if (decode_) line_ = decode_(line_, lines_);
    return true;
  }
  [[nodiscard]] ETransferError Bad(const std::string& what) const {
    return ETransferError(
        (record_ <= 1 ? std::string("header") : "row " + std::to_string(record_ - 1)) + ": " +
        what);
  }

  std::istream& in_;
  const std::function<std::string(std::string_view, std::size_t)>& decode_;
  std::string line_;
  std::size_t lines_ = 0;
  std::size_t record_ = 0;
};

// Keys with a value and a row number each, packed into one text and sorted once: a million
// sequences in a few bytes each, where a map would hold a million nodes.
class TPackedIndex {
 public:
  void Add(std::string_view key, std::string_view value, std::size_t row) {
    entries_.push_back({text_.size(), static_cast<std::uint16_t>(key.size()),
                        static_cast<std::uint16_t>(value.size()), static_cast<std::uint32_t>(row)});
    text_ += key;
    text_ += value;
  }
  // Sorts by key; the rows of one key stay in the order they were added.
  void Sort() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [this](const Entry& a, const Entry& b) { return Key(a) < Key(b); });
  }
  // The value and row of `key`, once sorted.
  [[nodiscard]] std::optional<std::pair<std::string_view, std::size_t>> Find(
      std::string_view key) const {
    const auto found =
        std::lower_bound(entries_.begin(), entries_.end(), key,
                         [this](const Entry& e, std::string_view k) { return Key(e) < k; });
    if (found == entries_.end() || Key(*found) != key) return std::nullopt;
    return std::pair(Value(*found), std::size_t{found->row});
  }
  // A key added twice, as the rows it was added at.
  struct Repeat {
    std::string_view key;
    std::size_t row;    // the second
    std::size_t first;  // and the first
  };
  // Of the keys added twice, once sorted: the one whose second row comes first.
  [[nodiscard]] std::optional<Repeat> FirstRepeat() const {
    std::optional<Repeat> first;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      const Entry& a = entries_[i - 1];
      const Entry& b = entries_[i];
      if (Key(a) == Key(b) && (!first || b.row < first->row)) first = {Key(b), b.row, a.row};
    }
    return first;
  }

 private:
  struct Entry {
    std::size_t at;
    std::uint16_t key;
    std::uint16_t value;
    std::uint32_t row;
  };
  [[nodiscard]] std::string_view Key(const Entry& e) const {
    return std::string_view(text_).substr(e.at, e.key);
  }
  [[nodiscard]] std::string_view Value(const Entry& e) const {
    return std::string_view(text_).substr(e.at + e.key, e.value);
  }
  std::string text_;
  std::vector<Entry> entries_;
};

// A sequence as one text: GenID and Prefix.
std::string SequenceKey(const TSequenceRow& r) {
  return std::to_string(r.GenID) + '\x1f' + r.Prefix;
}

// A row held in a file comes in free: its holder is no client of the table it goes to. Whether
// it was held.
bool MakeFree(TSequenceRow& r) {
  const bool held = r.State != rowlock::kFree;
  r.State = rowlock::kFree;
  r.Try = 0;
  return held;
}

// Mixes every field of `r` into `digest` (FNV-1a), to tell two readings of a file apart.
std::uint64_t Digest(std::uint64_t digest, const TSequenceRow& r) {
  const auto mix = [&digest](std::string_view text) {
    for (const char c : text)
      digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    digest = (digest ^ 0x1fU) * 1099511628211ULL;
  };
  for (const TRowField& f : RowFields())
    mix(f.Number != nullptr ? std::to_string(r.*f.Number) : r.*f.Text);
  return digest;
}
constexpr std::uint64_t kDigestStart = 14695981039346656037ULL;

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
    for (const char* c : kColumns) {
      out_ << (fields_.empty() ? "" : ",") << c;
      fields_.push_back(&RowField(c));
    }
    out_ << "\r\n";
  }
  // A line at a time: a million rows go out without a call per field.
  void Row(const TSequenceRow& r) override {
    line_.clear();
    for (const TRowField* f : fields_) {
      if (f != fields_.front()) line_ += ',';
      if (f->Number != nullptr) {
        line_ += std::to_string(r.*f->Number);
      } else {
        AppendCsvField(line_, r.*f->Text);
      }
    }
    line_ += "\r\n";
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  }
  void End() override { out_.flush(); }

 private:
  std::ostream& out_;
  std::vector<const TRowField*> fields_;  // in the order of kColumns
  std::string line_;
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

TRowSource RowsSource(std::vector<TSequenceRow> rows) {
  return [rows = std::make_shared<const std::vector<TSequenceRow>>(std::move(rows))](
             const std::function<void(TSequenceRow&)>& visit) {
    for (TSequenceRow r : *rows)
      visit(r);
  };
}

void ForEachCsvRow(std::istream& in, const std::function<void(TSequenceRow&)>& visit,
                   const std::function<std::string(std::string_view, std::size_t)>& decode) {
  CsvReader reader(in, decode);
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
  std::size_t rows = 0;
  while (std::optional<std::vector<std::string>> fields = reader.Next()) {
    if (fields->size() == 1 && fields->front().empty()) continue;  // an empty line
    TSequenceRow row;
    row.Source = ++rows;
    if (fields->size() != columns.size()) {
      throw ETransferError(Where(row) + ": " + std::to_string(fields->size()) +
                           " fields where the header names " + std::to_string(columns.size()));
    }
    for (std::size_t i = 0; i < columns.size(); ++i)
      SetField(row, columns[i], (*fields)[i]);
    CheckSequenceRow(row);
    visit(row);
  }
}

std::vector<TSequenceRow> ReadCsv(std::istream& in) {
  std::vector<TSequenceRow> rows;
  ForEachCsvRow(in, [&rows](TSequenceRow& r) { rows.push_back(std::move(r)); });
  CheckSequenceRows(rows);
  return rows;
}

void CheckSequenceRow(const TSequenceRow& r) {
  for (const TFieldDef& def : GeneratorFields()) {
    if (def.DataType != TFieldType::ftString) continue;
    const std::string& text = r.*RowField(def.Name).Text;
    const auto width = static_cast<std::size_t>(def.DataSize - 1);  // less the terminator
    if (text.size() > width) {
      throw ETransferError(Where(r) + ": " + def.Name + " '" + text + "' is longer than the " +
                           std::to_string(width) + " characters a generator table holds");
    }
  }
}

namespace {

// Refuses the first sequence that `seen`, sorted, holds twice.
void CheckNoRepeat(const TPackedIndex& seen) {
  const auto repeat = seen.FirstRepeat();
  if (!repeat) return;
  const std::size_t apart = repeat->key.find('\x1f');
  throw ETransferError("row " + std::to_string(repeat->row) + ": the sequence of GenID " +
                       std::string(repeat->key.substr(0, apart)) + " and prefix '" +
                       std::string(repeat->key.substr(apart + 1)) + "' is in row " +
                       std::to_string(repeat->first) + " already");
}

// The plan of `rows` against the table's sequences `stored` (their keys and suffixes); the
// conflicts' stored rows hold only GenID, Prefix and Suffix.
TImportPlan Plan(const TPackedIndex& stored, TRowSource rows) {
  TImportPlan plan;
  plan.Digest = kDigestStart;
  TPackedIndex seen;  // the file's sequences
  rows([&](TSequenceRow& r) {
    CheckSequenceRow(r);
    plan.Digest = Digest(plan.Digest, r);
    ++plan.Read;
    plan.Freed += MakeFree(r) ? 1 : 0;
    const std::string key = SequenceKey(r);
    seen.Add(key, {}, r.Source);
    const auto found = stored.Find(key);
    plan.Adds.push_back(!found);
    if (!found) return;
    if (found->first == r.Suffix) {
      ++plan.Same;
      return;
    }
    TSequenceRow was;
    was.GenID = r.GenID;
    was.Prefix = r.Prefix;
    was.Suffix = found->first;
    was.Source = found->second;
    plan.Conflicts.push_back({std::move(was), std::move(r)});
  });
  seen.Sort();
  CheckNoRepeat(seen);
  plan.Rows = std::move(rows);
  return plan;
}

}  // namespace

void CheckSequenceRows(const std::vector<TSequenceRow>& rows) {
  TPackedIndex seen;
  for (const TSequenceRow& r : rows) {
    CheckSequenceRow(r);
    seen.Add(SequenceKey(r), {}, r.Source);
  }
  seen.Sort();
  CheckNoRepeat(seen);
}

TImportPlan PlanImport(TRowSource rows) {
  TPackedIndex none;
  return Plan(none, std::move(rows));
}

TImportPlan PlanImport(TTable& table, TRowSource rows) {
  TPackedIndex stored;
  ForEachSequenceRow(
      table, [&stored](const TSequenceRow& r) { stored.Add(SequenceKey(r), r.Suffix, r.Source); });
  stored.Sort();
  TImportPlan plan = Plan(stored, std::move(rows));
  if (plan.Conflicts.empty()) return plan;
  // The table's rows of the conflicts, whole, for the replacement to compare with.
  std::map<std::size_t, TSequenceRow*> wanted;  // by their place in the table
  for (TImportPlan::TConflict& c : plan.Conflicts)
    wanted[c.Stored.Source] = &c.Stored;
  ForEachSequenceRow(table, [&wanted](const TSequenceRow& r) {
    const auto found = wanted.find(r.Source);
    if (found != wanted.end() && SequenceKey(*found->second) == SequenceKey(r)) *found->second = r;
  });
  return plan;
}

void ForEachAdded(const TImportPlan& plan, const std::function<void(const TSequenceRow&)>& visit) {
  // The file is read again: it must hold the rows the plan read.
  std::uint64_t digest = kDigestStart;
  std::size_t read = 0;
  plan.Rows([&](TSequenceRow& r) {
    digest = Digest(digest, r);
    const std::size_t i = read++;
    if (i >= plan.Adds.size() || !plan.Adds[i]) return;
    MakeFree(r);
    visit(r);
  });
  if (read != plan.Read || digest != plan.Digest) {
    throw ETransferError(
        "the file changed after the import was planned; nothing was written (run the import "
        "again to plan it anew)");
  }
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
  std::vector<std::size_t> index;  // of each of RowFields() in the table
  for (const TRowField& f : RowFields())
    index.push_back(table.FieldByName(f.Name).Index());
  const auto record = [&](const TSequenceRow& r) {
    TRecord values(static_cast<std::size_t>(table.FieldCount()));
    for (std::size_t i = 0; i < RowFields().size(); ++i) {
      const TRowField& f = RowFields()[i];
      if (f.Number != nullptr) {
        values[index[i]] = static_cast<double>(r.*f.Number);
      } else {
        values[index[i]] = r.*f.Text;
      }
    }
    return values;
  };
  std::vector<TRecord> overwrite;
  std::vector<TRecord> planned;
  for (const TImportPlan::TConflict& c : plan.Conflicts) {
    overwrite.push_back(record(c.Imported));
    planned.push_back(record(c.Stored));
  }
  const TRecordSource add = [&](const std::function<void(const TRecord&)>& write) {
    ForEachAdded(plan, [&](const TSequenceRow& r) { write(record(r)); });
  };
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
