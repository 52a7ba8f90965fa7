#include "platform/store/pgstore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

#include "platform/base/convert.h"
#include "platform/store/pgconnection.h"
#include "platform/store/session.h"
#include "platform/store/sqltext.h"

namespace tgen {

namespace {

using pg::Connection;
using pg::NoticeLog;
using pg::ReceiveNotice;
using pg::Result;

std::optional<std::string> Param(const TFieldValue& v) {
  if (const auto* n = std::get_if<double>(&v)) return FormatNumber(*n);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::nullopt;
}

// The decimal number `decimal` times `k`.
std::string TimesSmall(const std::string& decimal, std::size_t k) {
  std::string product;  // the lowest digit first, turned at the end
  std::size_t carry = 0;
  for (std::size_t i = decimal.size(); i-- > 0;) {
    carry += static_cast<std::size_t>(decimal[i] - '0') * k;
    product += static_cast<char>('0' + carry % 10);
    carry /= 10;
  }
  for (; carry > 0; carry /= 10)
    product += static_cast<char>('0' + carry % 10);
  std::reverse(product.begin(), product.end());
  return product;
}

// How the server steps the text of `column`, each place counting through its alphabet (bound
// as parameters $4, $5, ...): the text read as a number (each place's position in its alphabet
// times its weight, the product of the sizes of the places after it), that number and $2
// added, and written back place by place. In 64-bit integers where every value fits, else in
// numeric.
std::string AlphabetStep(const std::string& column, const TAlphabets& alphabets) {
  std::vector<std::string> weights(alphabets.size());
  std::string weight = "1";
  for (std::size_t i = alphabets.size(); i-- > 0;) {
    weights[i] = weight;
    weight = TimesSmall(weight, alphabets[i].size());
  }
  const bool small = weight.size() < 19;  // every value below 10^18
  const std::string type = small ? "bigint" : "numeric";
  std::string value;
  std::string text;
  for (std::size_t i = 0; i < alphabets.size(); ++i) {
    const std::string alphabet = "$" + std::to_string(i + 4) + "::text";
    const std::string place = "substr(" + column + ", " + std::to_string(i + 1) + ", 1)";
    value += i == 0 ? "(strpos(" : " + (strpos(";
    value += alphabet + ", " + place + ") - 1)::" + type + " * " + weights[i];
    const std::string size = std::to_string(alphabets[i].size());
    text += i == 0 ? "substr(" : " || substr(";
    text += alphabet + ", (";
    text += small ? "v / " + weights[i] + " % " + size
                  : "mod(div(v, " + weights[i] + "), " + size + ")";
    text += ")::int + 1, 1)";
  }
  return "(SELECT " + text + " FROM (SELECT " + value + " + $2::" + type + " AS v) x)";
}

// Whether each character of a text is in its place's alphabet, as one regular expression, which
// the server compiles once per session.
std::string ShapeExpression(const TAlphabets& alphabets) {
  std::string shape = "^";
  for (const std::string& alphabet : alphabets) {
    shape += '[';
    for (const char c : alphabet) {
      if (c == ']' || c == '\\' || c == '^' || c == '-' || c == '[') shape += '\\';
      shape += c;
    }
    shape += ']';
  }
  return shape + "$";
}

// The first `columns` values of `r` as a line of COPY's text format: the fields apart by tabs,
// \N for null (and for a value `r` lacks), and backslash, tab and line ends written as escapes.
void CopyLine(const TRecord& r, std::size_t columns, std::string& line) {
  line.clear();
  for (std::size_t f = 0; f < columns; ++f) {
    if (f > 0) line += '\t';
    const std::optional<std::string> text = f < r.size() ? Param(r[f]) : std::nullopt;
    if (!text) {
      line += "\\N";
      continue;
    }
    for (const char c : *text) {
      switch (c) {
        case '\\':
          line += "\\\\";
          break;
        case '\t':
          line += "\\t";
          break;
        case '\n':
          line += "\\n";
          break;
        case '\r':
          line += "\\r";
          break;
        default:
          line += c;
      }
    }
  }
  line += '\n';
}

// A column's text as the value of a field of type `type`: a number for a numeric field (the
// text itself where it reads as none), else the text.
TFieldValue Value(std::string text, TFieldType type) {
  if (type == TFieldType::ftFloat || type == TFieldType::ftInteger) {
    try {
      return std::stod(text);
    } catch (const std::exception&) {
      return text;
    }
  }
  return text;
}

TFieldValue Value(const PGresult* r, int row, int col, TFieldType type) {
  if (PQgetisnull(r, row, col) == 1) return std::monostate{};
  return Value(
      std::string(PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col))),
      type);
}

// Reads a line of COPY's text format (as CopyLine writes it, and octal or hexadecimal byte
// escapes besides) into `record`, a value per field of `defs`.
void ReadCopyLine(std::string_view line, const std::vector<TFieldDef>& defs, TRecord& record) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  record.assign(defs.size(), std::monostate{});
  std::size_t field = 0;
  std::string text;
  for (std::size_t at = 0; at <= line.size() && field < defs.size(); ++field) {
    const std::size_t end = std::min(line.find('\t', at), line.size());
    const std::string_view raw = line.substr(at, end - at);
    at = end + 1;
    if (raw == "\\N") continue;
    text.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\' || i + 1 == raw.size()) {
        text += raw[i];
        continue;
      }
      const char c = raw[++i];
      // \ddd (octal) and \xhh: a byte by its code.
      const bool octal = c >= '0' && c <= '7';
      const bool hex = c == 'x' && i + 1 < raw.size() &&
                       std::isxdigit(static_cast<unsigned char>(raw[i + 1])) != 0;
      if (octal || hex) {
        const int base = octal ? 8 : 16;
        const std::size_t first = octal ? i : i + 1;
        std::size_t last = first;
        while (last < raw.size() && last - first < (octal ? 3U : 2U) &&
               std::isxdigit(static_cast<unsigned char>(raw[last])) != 0 &&
               (!octal || raw[last] <= '7')) {
          ++last;
        }
        text += static_cast<char>(
            std::stoi(std::string(raw.substr(first, last - first)), nullptr, base));
        i = last - 1;
        continue;
      }
      constexpr std::string_view kFrom = "btnvfr";
      constexpr std::string_view kTo = "\b\t\n\v\f\r";
      const std::size_t k = kFrom.find(c);
      text += k == std::string_view::npos ? c : kTo[k];
    }
    record[field] = Value(text, defs[field].DataType);
  }
}

TFieldDef DefFromCatalog(std::string name, const std::string& type, const char* length) {
  const std::string width = length != nullptr && *length != '\0' ? std::string(length) : "";
  if (type == "character varying" || type == "character") {
    if (width.empty()) return {std::move(name), TFieldType::ftMemo, 0};
    return FieldDefFromDeclaredType(std::move(name), "VARCHAR(" + width + ")");
  }
  if (type == "double precision" || type == "real" || type == "numeric") {
    return {std::move(name), TFieldType::ftFloat, 8};
  }
  return FieldDefFromDeclaredType(std::move(name), type);
}

class PgTable final : public TTableDriver {
 public:
  static constexpr TParamStyle kStyle = TParamStyle::kDollar;

  PgTable(Connection conn, const std::string& table)
      : conn_(std::move(conn)), table_(table), sql_table_(QuoteIdentifier(table)) {
    Result cols = conn_.Exec(
        "SELECT column_name, data_type, character_maximum_length FROM information_schema.columns "
        "WHERE table_schema = current_schema() AND table_name = $1 ORDER BY ordinal_position",
        {table}, "Cannot open table " + table);
    const int n = PQntuples(cols.get());
    if (n == 0)
      throw EDatabaseError("Table " + table + " does not exist", TErrorKind::kUnavailable);
    for (int i = 0; i < n; ++i) {
      defs_.push_back(DefFromCatalog(
          PQgetvalue(cols.get(), i, 0), PQgetvalue(cols.get(), i, 1),
          PQgetisnull(cols.get(), i, 2) == 1 ? nullptr : PQgetvalue(cols.get(), i, 2)));
    }
    columns_ = ColumnList(defs_, AllFields(defs_.size()));
    select_ = "SELECT " + columns_ + " FROM " + sql_table_;
    // The row's identity: the columns of the table's primary key or first unique key.
    Result key = conn_.Exec(
        "SELECT a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
        "JOIN pg_namespace s ON s.oid = c.relnamespace "
        "JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, ord) ON true "
        "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum "
        "WHERE c.relname = $1 AND s.nspname = current_schema() AND i.indisunique "
        "AND i.indexrelid = (SELECT i2.indexrelid FROM pg_index i2 WHERE i2.indrelid = c.oid "
        "AND i2.indisunique ORDER BY i2.indisprimary DESC, i2.indexrelid LIMIT 1) "
        "ORDER BY k.ord",
        {table}, "Cannot open table " + table);
    for (int i = 0; i < PQntuples(key.get()); ++i) {
      const std::string column = PQgetvalue(key.get(), i, 0);
      for (std::size_t f = 0; f < defs_.size(); ++f) {
        if (defs_[f].Name == column) key_.push_back(f);
      }
    }
    if (key_.empty()) {
      throw EDatabaseError("Table " + table + " has no unique key to tell its rows apart");
    }
  }

  ~PgTable() override { conn_.Rollback(); }
  PgTable(const PgTable&) = delete;
  PgTable& operator=(const PgTable&) = delete;

  std::vector<TFieldDef> FieldDefs() override { return defs_; }

  std::optional<TLocated> Locate(const std::vector<std::size_t>& fields,
                                 const TRecord& values) override {
    std::vector<std::optional<std::string>> params;
    Result r = conn_.Exec(select_ + Where(fields, values, params) + " LIMIT 1", params,
                          "Cannot read table " + table_);
    if (PQntuples(r.get()) == 0) return std::nullopt;
    TRecord record = Row(r.get(), 0);
    return TLocated{Identify(record), std::move(record)};
  }

  TRecord Lock(TRowId row) override { return Take(row, std::nullopt); }

  TRecord LockWaiting(TRowId row, std::chrono::milliseconds wait) override {
    return Take(row, wait);
  }

  TRecord Update(TRowId row, const TRecord& values) override {
    try {
      std::vector<std::optional<std::string>> params;
      for (std::size_t i = 0; i < defs_.size(); ++i)
        params.push_back(i < values.size() ? Param(values[i]) : std::nullopt);
      const std::string sets = Assignments(defs_, AllFields(defs_.size()), ", ", kStyle, 1);
      const std::string where = Where(key_, keys_.at(Index(row)), params);
      // The update and its commit in one round trip.
      const std::vector<Result> r = conn_.Pipeline(
          {{"UPDATE " + sql_table_ + " SET " + sets + where + " RETURNING " + columns_, params},
           {conn_.CommitText(), {}}},
          "Cannot store a row of table " + table_, !conn_.Lent());
      if (PQntuples(r[0].get()) == 0)
        throw EDatabaseError("The row of table " + table_ + " was deleted");
      return Row(r[0].get(), 0);
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  void Unlock(TRowId /*row*/) noexcept override { conn_.Rollback(); }

  void SetWaitLimit(std::chrono::milliseconds limit) override { conn_.SetLimit(limit); }

  TConditional IncrementIf(TRowId row, std::size_t field, std::int64_t step,
                           const std::string& limit, const TAlphabets& alphabets,
                           const std::vector<std::size_t>& required, const TRecord& expected,
                           const std::vector<std::size_t>& set, const TRecord& values,
                           std::chrono::milliseconds wait) override {
    // The server steps the text itself, as a counter row is stepped: the row is held only
    // while the update runs.
    const std::string what = "Cannot store a row of table " + table_;
    const std::string column = QuoteIdentifier(defs_.at(field).Name);
    std::vector<std::optional<std::string>> params = {std::to_string(limit.size()),
                                                      std::to_string(step)};
    if (alphabet_sql_.alphabets != alphabets || alphabet_sql_.column != column) {
      // Made once for the shape a generator asks for on every draw. Decimal text is stepped as
      // a number; other alphabets are bound as parameters $4, $5, ...
      const bool decimal = IsDecimal(alphabets);
      alphabet_sql_ = {alphabets, column, ShapeExpression(alphabets), decimal,
                       decimal ? "lpad((" + column + "::numeric + $2::numeric)::text, $1::int, '0')"
                               : AlphabetStep(column, alphabets)};
    }
    params.emplace_back(alphabet_sql_.shape);
    if (!alphabet_sql_.decimal) params.insert(params.end(), alphabets.begin(), alphabets.end());
    const std::string fits = "char_length(" + column + ") = $1::int AND " + column + " ~ $3";
    std::string sets = column + " = " + alphabet_sql_.step;
    for (std::size_t i = 0; i < set.size(); ++i) {
      params.push_back(Param(values.at(i)));
      sets +=
          ", " + QuoteIdentifier(defs_.at(set[i]).Name) + " = " + ParamMark(kStyle, params.size());
    }
    std::string where = Where(key_, keys_.at(Index(row)), params);
    where += " AND " + fits;
    params.emplace_back(limit);
    where += " AND " + column + " COLLATE \"C\" <= " + ParamMark(kStyle, params.size());
    where += Holding(required, expected, params);
    return Conditional("UPDATE " + sql_table_ + " SET " + sets + where + " RETURNING " + columns_,
                       params, row, wait, what);
  }

  TConditional UpdateIf(TRowId row, const std::vector<std::size_t>& compare,
                        const TRecord& expected, const TRecord& values,
                        std::chrono::milliseconds wait) override {
    // One statement in a transaction of its own, as a counter row is stepped: the update
    // waits for the row and stores only when the compared fields still hold what is
    // expected. Only when it did not is the row read again.
    const std::string what = "Cannot store a row of table " + table_;
    std::vector<std::optional<std::string>> params;
    for (std::size_t i = 0; i < defs_.size(); ++i)
      params.push_back(i < values.size() ? Param(values[i]) : std::nullopt);
    const std::string sets = Assignments(defs_, AllFields(defs_.size()), ", ", kStyle, 1);
    const std::string where =
        Where(key_, keys_.at(Index(row)), params) + Holding(compare, expected, params);
    return Conditional("UPDATE " + sql_table_ + " SET " + sets + where + " RETURNING " + columns_,
                       params, row, wait, what);
  }

  TLocated Insert(const TRecord& values, const std::vector<std::size_t>& key) override {
    std::vector<std::optional<std::string>> params;
    std::vector<std::size_t> given;  // fields with a value; the others keep their defaults
    for (std::size_t i = 0; i < defs_.size() && i < values.size(); ++i) {
      if (std::holds_alternative<std::monostate>(values[i])) continue;
      params.push_back(Param(values[i]));
      given.push_back(i);
    }
    const std::string what = "Cannot add a row to table " + table_;
    conn_.Exec(conn_.BeginText(), {}, what);
    try {
      if (!key.empty()) {
        // Clients adding one key at once take turns on a lock named by the table and the key,
        // held to the end of the transaction; the look that follows sees every row committed
        // before, so a table without a unique index still gets one row per key.
        TRecord key_values;
        for (const std::size_t f : key)
          key_values.push_back(f < values.size() ? values[f] : TFieldValue{});
        std::string key_text;
        for (const TFieldValue& v : key_values)
          key_text += Param(v).value_or("") + '\x1f';
        conn_.Exec("SELECT pg_advisory_xact_lock(hashtext($1), hashtext($2))", {table_, key_text},
                   what);
        std::vector<std::optional<std::string>> key_params;
        Result found = conn_.Exec(
            "SELECT 1 FROM " + sql_table_ + Where(key, key_values, key_params) + " LIMIT 1",
            key_params, what);
        if (PQntuples(found.get()) > 0) throw EKeyViolation(what + ": key violation");
      }
      Result r = conn_.Exec(InsertSql(sql_table_, defs_, given, kStyle) + " RETURNING " + columns_,
                            params, what);
      TRecord stored = Row(r.get(), 0);
      conn_.Commit(what);
      return {Identify(stored), std::move(stored)};
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  void WriteRows(const std::vector<std::size_t>& key, const TRecordSource& add,
                 const std::vector<TRecord>& replace, const std::vector<std::size_t>& compare,
                 const std::vector<TRecord>& expected) override {
    const std::string what = "Cannot write the rows of table " + table_;
    conn_.Exec(conn_.BeginText(), {}, what);
    try {
      // Nobody adds a row meanwhile: the table is this transaction's until it ends.
      conn_.Exec("LOCK TABLE " + sql_table_ + " IN SHARE ROW EXCLUSIVE MODE", {}, what);
      const std::vector<std::size_t> all = AllFields(defs_.size());
      std::vector<std::size_t> matched = key;
      matched.insert(matched.end(), compare.begin(), compare.end());
      std::vector<std::size_t> changed;
      for (std::size_t i = 0; i < replace.size(); ++i) {
        const TRecord& r = replace[i];
        std::vector<std::optional<std::string>> params;
        for (std::size_t f = 0; f < defs_.size(); ++f)
          params.push_back(f < r.size() ? Param(r[f]) : std::nullopt);
        TRecord match_values;
        for (const std::size_t f : key)
          match_values.push_back(r.at(f));
        for (const std::size_t f : compare)
          match_values.push_back(expected.at(i).at(f));
        const std::string where = Where(matched, match_values, params);
        const Result done = conn_.Exec(
            "UPDATE " + sql_table_ + " SET " + Assignments(defs_, all, ", ", kStyle, 1) + where,
            params, what);
        if (std::string_view(PQcmdTuples(done.get())) == "1") continue;
        if (compare.empty()) throw EDatabaseError(what + ": a row to overwrite is gone");
        changed.push_back(i);
      }
      if (!changed.empty())
        throw ERowsChanged(what + ": rows to overwrite changed since they were read", changed);
      if (DeclaresUniqueWithin(UniqueKeys(), key)) {
        // The server refuses a second row of a key itself: the rows go in as one stream.
        conn_.CopyIn("COPY " + sql_table_ + " (" + columns_ + ") FROM STDIN", what,
                     [&](const std::function<void(std::string_view)>& send) {
                       std::string line;
                       add([&](const TRecord& r) {
                         CopyLine(r, defs_.size(), line);
                         send(line);
                       });
                     });
        conn_.Commit(what);
        return;
      }
      add([&](const TRecord& r) {
        TRecord key_values;
        for (const std::size_t f : key)
          key_values.push_back(r.at(f));
        std::vector<std::optional<std::string>> key_params;
        const Result found = conn_.Exec(
            "SELECT 1 FROM " + sql_table_ + Where(key, key_values, key_params) + " LIMIT 1",
            key_params, what);
        if (PQntuples(found.get()) > 0) throw EKeyViolation(what + ": key violation");
        std::vector<std::optional<std::string>> params;
        for (std::size_t f = 0; f < defs_.size(); ++f)
          params.push_back(f < r.size() ? Param(r[f]) : std::nullopt);
        conn_.Exec(InsertSql(sql_table_, defs_, all, kStyle), params, what);
      });
      conn_.Commit(what);
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  std::vector<std::vector<std::size_t>> UniqueKeys() override {
    Result r = conn_.Exec(
        "SELECT i.indexrelid, a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
        "JOIN pg_namespace s ON s.oid = c.relnamespace "
        "JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, ord) ON true "
        "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum "
        "WHERE c.relname = $1 AND s.nspname = current_schema() AND i.indisunique "
        "AND i.indpred IS NULL AND i.indexprs IS NULL ORDER BY i.indexrelid, k.ord",
        {table_}, "Cannot read the keys of table " + table_);
    std::map<std::string, std::vector<std::size_t>> keys;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      const std::string column = PQgetvalue(r.get(), i, 1);
      for (std::size_t f = 0; f < defs_.size(); ++f) {
        if (defs_[f].Name == column) keys[PQgetvalue(r.get(), i, 0)].push_back(f);
      }
    }
    std::vector<std::vector<std::size_t>> result;
    result.reserve(keys.size());
    for (auto& [index, fields] : keys)
      result.push_back(std::move(fields));
    return result;
  }

  void ForEachRow(const std::function<void(const TRecord&)>& visit) override {
    // COPY's stream: no result to make per row, as row by row queries need.
    TRecord record;
    conn_.CopyOut("COPY (" + select_ + " ORDER BY 1, 2) TO STDOUT", "Cannot read table " + table_,
                  [&](std::string_view line) {
                    ReadCopyLine(line, defs_, record);
                    visit(record);
                  });
  }

  std::vector<TLocated> ReadAll() override {
    Result r = conn_.Exec(select_ + " ORDER BY 1, 2", {}, "Cannot read table " + table_);
    std::vector<TLocated> rows;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      TRecord record = Row(r.get(), i);
      rows.push_back({Identify(record), std::move(record)});
    }
    return rows;
  }

 private:
  // " AND f1 IS NOT DISTINCT FROM $n ...": the fields `fields` hold `values` (null equals
  // null), the values appended to `params`.
  std::string Holding(const std::vector<std::size_t>& fields, const TRecord& values,
                      std::vector<std::optional<std::string>>& params) const {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      params.push_back(Param(values.at(i)));
      text += " AND " + QuoteIdentifier(defs_.at(fields[i]).Name) + " IS NOT DISTINCT FROM " +
              ParamMark(kStyle, params.size());
    }
    return text;
  }

  // Runs an UPDATE ... RETURNING of one row in a transaction of its own, waiting for the row up
  // to `wait`; when it stored nothing, reads the row as it is now.
  TConditional Conditional(const std::string& update,
                           const std::vector<std::optional<std::string>>& params, TRowId row,
                           std::chrono::milliseconds wait, const std::string& what) {
    try {
      conn_.SetLockTimeout(wait, what);
      const Result r = conn_.Atomic(update, params, what);
      if (PQntuples(r.get()) == 1) return {true, Row(r.get(), 0)};
      std::vector<std::optional<std::string>> key_params;
      const Result now =
          conn_.Exec(select_ + Where(key_, keys_.at(Index(row)), key_params), key_params, what);
      if (PQntuples(now.get()) == 0)
        throw EDatabaseError("The row of table " + table_ + " was deleted");
      return {false, Row(now.get(), 0)};
    } catch (const ELockTimeout&) {
      conn_.Rollback();
      throw ELockTimeout(what + ": another client kept the row for " +
                         std::to_string(wait.count()) + " ms");
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  // Lock and LockWaiting: the transaction and the row's lock in one round trip. Without `wait`
  // the row is taken only when free (NOWAIT); with it, the wait is bounded to the second.
  TRecord Take(TRowId row, std::optional<std::chrono::milliseconds> wait) {
    const std::string what = "Cannot edit a row of table " + table_;
    std::vector<std::optional<std::string>> params;
    const std::string where = Where(key_, keys_.at(Index(row)), params);
    try {
      if (wait) conn_.SetLockTimeout(*wait, what);
      const std::vector<Result> r = conn_.Pipeline(
          {{conn_.BeginText(), {}},
           {select_ + where + (wait ? " FOR UPDATE" : " FOR UPDATE NOWAIT"), params}},
          what, false);
      if (PQntuples(r.back().get()) == 0)
        throw EDatabaseError("The row of table " + table_ + " was deleted");
      return Row(r.back().get(), 0);
    } catch (const ELockTimeout&) {
      conn_.Rollback();
      if (!wait) throw EDatabaseError(what + ": the row is being edited by another client");
      throw ELockTimeout(what + ": another client kept the row for " +
                         std::to_string(wait->count()) + " ms");
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  std::string Where(const std::vector<std::size_t>& fields, const TRecord& values,
                    std::vector<std::optional<std::string>>& params) const {
    if (fields.empty()) return "";
    std::string where = " WHERE " + Assignments(defs_, fields, " AND ", kStyle, params.size() + 1);
    for (std::size_t i = 0; i < fields.size(); ++i)
      params.push_back(Param(values[i]));
    return where;
  }

  TRecord Row(const PGresult* r, int row) const {
    TRecord record;
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      record.push_back(Value(r, row, static_cast<int>(i), defs_[i].DataType));
    }
    return record;
  }

  // A row id for the row's key values, the same for the same key.
  TRowId Identify(const TRecord& record) {
    TRecord key;
    for (const std::size_t f : key_)
      key.push_back(record[f]);
    const auto [it, added] = ids_.emplace(key, static_cast<TRowId>(keys_.size()));
    if (added) keys_.push_back(std::move(key));
    return it->second;
  }
  static std::size_t Index(TRowId row) { return static_cast<std::size_t>(row); }

  Connection conn_;
  std::string table_;
  std::string sql_table_;
  std::vector<TFieldDef> defs_;
  std::string columns_;  // every column, quoted, in order
  std::string select_;
  std::vector<std::size_t> key_;  // fields that tell rows apart
  struct {                        // IncrementIf's texts for the alphabets it was last asked for
    TAlphabets alphabets;
    std::string column;
    std::string shape;
    bool decimal = true;
    std::string step;  // the stepped value
  } alphabet_sql_;
  std::vector<TRecord> keys_;      // key values by row id
  std::map<TRecord, TRowId> ids_;  // and row ids by key values
};

}  // namespace

std::unique_ptr<TTableDriver> TPgDriver::OpenTable(const std::string& location,
                                                   const std::string& table) {
  CheckTableName(table);
  return std::make_unique<PgTable>(Connection(location), table);
}

std::vector<std::string> TPgDriver::TableNames(const std::string& location) {
  Connection conn(location);
  Result r =
      conn.Exec("SELECT tablename FROM pg_tables WHERE schemaname = current_schema() ORDER BY 1",
                {}, "Cannot list the tables");
  std::vector<std::string> names;
  for (int i = 0; i < PQntuples(r.get()); ++i)
    names.emplace_back(PQgetvalue(r.get(), i, 0));
  return names;
}

void TPgDriver::CreateTable(const std::string& location, const std::string& table,
                            const std::vector<TFieldDef>& fields,
                            const std::vector<std::size_t>& unique_key) {
  CheckTableName(table);
  Connection conn(location);
  conn.Exec(CreateTableSql(table, fields, unique_key), {}, "Cannot create table " + table);
}

std::string TPgDriver::DisplayUri(const std::string& /*scheme*/, const std::string& location) {
  return HidePassword(location);
}

namespace {

// libpq's own notice receiver, which passes notices to the connection's notice processor and
// ignores its argument; read off a connection that never connects.
PQnoticeReceiver DefaultNoticeReceiver() {
  static const PQnoticeReceiver receiver = [] {
    PGconn* probe = PQconnectStart("tgen_probe_no_such_option=1");
    const PQnoticeReceiver found = PQsetNoticeReceiver(probe, nullptr, nullptr);
    PQfinish(probe);
    return found;
  }();
  return receiver;
}

// For its life, keeps the first warning the server sends on an application's connection and
// hands every notice on to the application's receiver, which it puts back at the end.
class CommitWarnings {
 public:
  CommitWarnings(PGconn* conn, PQnoticeReceiver receiver, void* arg) : conn_(conn) {
    const PQnoticeReceiver current = PQsetNoticeReceiver(conn, nullptr, nullptr);
    if (receiver == nullptr) {
      if (current != DefaultNoticeReceiver()) return;  // its argument is unknown: left alone
      receiver = current;
    }
    forward_ = receiver;
    arg_ = arg;
    PQsetNoticeReceiver(conn, Receive, this);
  }
  CommitWarnings(const CommitWarnings&) = delete;
  CommitWarnings& operator=(const CommitWarnings&) = delete;
  ~CommitWarnings() {
    if (forward_ != nullptr) PQsetNoticeReceiver(conn_, forward_, arg_);
  }
  [[nodiscard]] const std::string& Warning() const { return log_.warning; }

 private:
  static void Receive(void* self, const PGresult* notice) {
    auto* watch = static_cast<CommitWarnings*>(self);
    ReceiveNotice(&watch->log_, notice);
    watch->forward_(watch->arg_, notice);
  }

  PGconn* conn_;
  PQnoticeReceiver forward_ = nullptr;
  void* arg_ = nullptr;
  NoticeLog log_;
};

}  // namespace

TPgTransaction::TPgTransaction(pg_conn* conn, std::chrono::milliseconds wait,
                               TPgNoticeReceiver receiver, void* receiver_arg)
    : conn_(conn), wait_(wait), receiver_(receiver), receiver_arg_(receiver_arg) {
  const std::string what = "Cannot begin a transaction";
  if (conn_ == nullptr) throw EDatabaseError(what + ": no PostgreSQL connection");
  if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
    throw EDatabaseError(what + ": the connection is inside a transaction already");
  Connection c(conn_);
  c.SetLimit(wait_);
  c.Exec("BEGIN", {}, what);
  active_ = true;
}

TPgTransaction::~TPgTransaction() {
  Rollback();
}

std::unique_ptr<TTableDriver> TPgTransaction::OpenTable(const std::string& table) {
  CheckActive();
  CheckTableName(table);
  return std::make_unique<PgTable>(Connection(conn_), table);
}

void TPgTransaction::CreateTable(const std::string& table, const std::vector<TFieldDef>& fields,
                                 const std::vector<std::size_t>& unique_key) {
  CheckActive();
  CheckTableName(table);
  Connection c(conn_);
  c.SetLimit(wait_);
  c.Atomic(CreateTableSql(table, fields, unique_key), {}, "Cannot create table " + table);
}

void TPgTransaction::Commit() {
  CheckActive();
  Connection c(conn_);
  c.SetLimit(wait_);
  const std::string what = "Cannot commit the transaction";
  if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_INERROR) {
    Rollback();
    throw EDatabaseError(what + ": a statement in it had failed, and it was rolled back");
  }
  active_ = false;
  CommitWarnings heard(conn_, receiver_, receiver_arg_);
  const Result r = c.Exec("COMMIT", {}, what, true);
  // A transaction that a failed statement had ended answers COMMIT with ROLLBACK.
  if (std::string_view(PQcmdStatus(r.get())) == "ROLLBACK")
    throw EDatabaseError(what + ": a statement in it had failed, and it was rolled back");
  if (!heard.Warning().empty()) {
    throw ECommitUnknown(what + ": the server reported the commit with a warning (" +
                         heard.Warning() + "); whether it was stored everywhere is unknown");
  }
}

void TPgTransaction::Rollback() noexcept {
  if (!active_) return;
  active_ = false;
  if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
    PQclear(PQexec(conn_, "ROLLBACK"));
}

std::string TPgTransaction::Reusable() const {
  return std::to_string(reinterpret_cast<std::uintptr_t>(conn_)) + ':' +  // NOLINT: an identity
         std::to_string(PQbackendPID(conn_));
}

void TPgTransaction::CheckActive() const {
  if (!active_) throw EDatabaseError("The transaction has ended");
}

void RegisterPgStore(TSession* session) {
  TSession& s = session != nullptr ? *session : TSession::Default();
  const auto driver = std::make_shared<TPgDriver>();
  // Both URI schemes libpq takes, and its key=value connection strings, which have none.
  s.RegisterDriver("postgresql", driver);
  s.RegisterDriver("postgres", driver);
  TSession::SetBareScheme("postgresql");
}

}  // namespace tgen

// For a program that loads this store when an alias of it is first used (RegisterLazyStore).
extern "C" void tgen_register_pg_store(tgen::TSession* session) {
  tgen::RegisterPgStore(session);
}
