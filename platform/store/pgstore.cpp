#include "platform/store/pgstore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

#include "platform/base/convert.h"
#include "platform/store/session.h"
#include "platform/store/sqltext.h"

namespace tgen {

namespace {

struct ConnCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// Connection settings that keep a lost server from hanging a client.
constexpr const char* kTimeouts[][2] = {{"connect_timeout", "5"},  {"keepalives", "1"},
                                        {"keepalives_idle", "5"},  {"keepalives_interval", "2"},
                                        {"keepalives_count", "3"}, {"tcp_user_timeout", "10000"}};

constexpr const char* kIdleInTransaction = "SET idle_in_transaction_session_timeout = 5000";

// A message of the server or of libpq, without its line end.
std::string Trimmed(const char* message) {
  return Trim(message != nullptr ? message : "");
}

class Connection {
 public:
  explicit Connection(std::string conninfo) : conninfo_(std::move(conninfo)) { Connect(); }

  // Runs one statement with text parameters (null for SQL NULL); throws on failure.
  // `commits`: the statement runs in a transaction of its own, which a lost connection leaves
  // in doubt (ECommitUnknown).
  Result Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
              const std::string& what, bool commits = false) {
    if (PQstatus(conn_.get()) != CONNECTION_OK) Connect();
    std::vector<const char*> values;
    std::vector<int> lengths;
    for (const auto& p : params) {
      values.push_back(p ? p->data() : nullptr);
      lengths.push_back(p ? static_cast<int>(p->size()) : 0);
    }
    const std::string& name = Prepared(sql, params.size(), what);
    Result r(PQexecPrepared(conn_.get(), name.c_str(), static_cast<int>(params.size()),
                            values.data(), lengths.data(), nullptr, 0));
    if (Succeeded(r.get())) return r;
    if (commits && PQstatus(conn_.get()) != CONNECTION_OK) {
      throw ECommitUnknown(what +
                           ": the connection was lost during COMMIT; whether it was stored is "
                           "unknown");
    }
    Throw(r.get(), what);
  }

  struct Statement {
    std::string sql;
    std::vector<std::optional<std::string>> params;
  };

  // Sends `statements` as one message (libpq's pipeline mode: one round trip) and returns their
  // results in order; throws for the first that failed, as Exec does. `commits`: the last
  // statement is a COMMIT, so a connection lost before every answer came leaves the outcome
  // unknown (ECommitUnknown).
  std::vector<Result> Pipeline(const std::vector<Statement>& statements, const std::string& what,
                               bool commits) {
    if (PQstatus(conn_.get()) != CONNECTION_OK) Connect();
    std::vector<const std::string*> names;
    names.reserve(statements.size());
    for (const Statement& s : statements)
      names.push_back(&Prepared(s.sql, s.params.size(), what));
    PGconn* c = conn_.get();
    bool sent = PQenterPipelineMode(c) == 1;
    auto name = names.begin();
    for (const Statement& s : statements) {
      if (!sent) break;
      std::vector<const char*> values;
      std::vector<int> lengths;
      for (const auto& p : s.params) {
        values.push_back(p ? p->data() : nullptr);
        lengths.push_back(p ? static_cast<int>(p->size()) : 0);
      }
      sent = PQsendQueryPrepared(c, (*name++)->c_str(), static_cast<int>(s.params.size()),
                                 values.data(), lengths.data(), nullptr, 0) == 1;
    }
    sent = sent && PQpipelineSync(c) == 1;
    std::vector<Result> results;
    bool complete = sent;
    for (std::size_t i = 0; complete && i < statements.size(); ++i) {
      Result r(PQgetResult(c));
      complete = r != nullptr && PQstatus(c) == CONNECTION_OK;
      while (complete) {  // the rest of this statement's results, up to its end mark
        Result extra(PQgetResult(c));
        if (!extra) break;
        complete = PQstatus(c) == CONNECTION_OK;
      }
      results.push_back(std::move(r));
    }
    if (complete) {
      const Result sync(PQgetResult(c));
      complete = sync && PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC;
    }
    if (!complete || PQexitPipelineMode(c) != 1 || PQstatus(c) != CONNECTION_OK) {
      conn_.reset();  // the next call connects afresh
      if (commits && sent) {
        throw ECommitUnknown(what +
                             ": the connection was lost during COMMIT; whether it was stored is "
                             "unknown");
      }
      throw EDatabaseError(what + ": the connection to the server was lost");
    }
    for (const Result& r : results) {
      if (!Succeeded(r.get()) && PQresultStatus(r.get()) != PGRES_PIPELINE_ABORTED) {
        Throw(r.get(), what);
      }
    }
    return results;
  }

  // Commits; a connection lost on the way leaves the outcome unknown, and says so.
  void Commit(const std::string& what) {
    Result r(PQexec(conn_.get(), "COMMIT"));
    if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK) return;
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      throw ECommitUnknown(what +
                           ": the connection was lost during COMMIT; whether it was "
                           "stored is unknown");
    }
    throw EDatabaseError(what + ": " + Trimmed(PQresultErrorMessage(r.get())));
  }

  // Sets how long a statement waits for a row lock, for the rest of the session, in whole
  // seconds (rounded up, at least one), so that draws in a row send it once.
  void SetLockTimeout(std::chrono::milliseconds wait, const std::string& what) {
    const auto seconds = std::max<std::int64_t>((wait.count() + 999) / 1000, 1);
    if (PQstatus(conn_.get()) == CONNECTION_OK && seconds == lock_timeout_s_) return;
    Exec("SELECT set_config('lock_timeout', $1, false)", {std::to_string(seconds) + "s"}, what);
    lock_timeout_s_ = seconds;
  }

  void Rollback() noexcept {
    if (conn_ && PQstatus(conn_.get()) == CONNECTION_OK &&
        PQpipelineStatus(conn_.get()) == PQ_PIPELINE_OFF &&
        PQtransactionStatus(conn_.get()) != PQTRANS_IDLE) {
      PQclear(PQexec(conn_.get(), "ROLLBACK"));
    }
  }

 private:
  // The name of `sql` prepared on this connection, preparing it on first use: the server
  // parses and plans each statement once per connection, not once per call.
  const std::string& Prepared(const std::string& sql, std::size_t params, const std::string& what) {
    const auto found = prepared_.find(sql);
    if (found != prepared_.end()) return found->second;
    std::string name = "tgen_" + std::to_string(prepared_.size() + 1);
    const Result r(
        PQprepare(conn_.get(), name.c_str(), sql.c_str(), static_cast<int>(params), nullptr));
    if (!Succeeded(r.get())) Throw(r.get(), what);
    return prepared_.emplace(sql, std::move(name)).first->second;
  }

  static bool Succeeded(const PGresult* r) {
    const ExecStatusType status = r != nullptr ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }

  // The failure that `r` reports, as the exception that says what it means to the caller.
  [[noreturn]] void Throw(const PGresult* r, const std::string& what) {
    const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state != nullptr ? state : "";
    const std::string reason =
        Trimmed(r != nullptr ? PQresultErrorMessage(r) : PQerrorMessage(conn_.get()));
    if (code == "23505") throw EKeyViolation(what + ": key violation (" + reason + ")");
    if (code == "55P03") throw ELockTimeout(what + ": " + reason);
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      throw EDatabaseError(what + ": the connection to the server was lost (" +
                           Trimmed(PQerrorMessage(conn_.get())) + ")");
    }
    throw EDatabaseError(what + ": " + reason);
  }

  void Connect() {
    // The time-outs first: the connection string, expanded in place after them, overrides any
    // that it sets itself.
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& kv : kTimeouts) {
      keys.push_back(kv[0]);
      values.push_back(kv[1]);
    }
    keys.push_back("dbname");
    values.push_back(conninfo_.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    lock_timeout_s_ = 0;
    prepared_.clear();
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      const std::string reason = Trimmed(PQerrorMessage(conn_.get()));
      conn_.reset();
      throw EDatabaseError("Cannot connect to " + HidePassword(conninfo_) + ": " + reason);
    }
    // A client that stops while it holds a row (its transaction idle: stopped, or hung) is
    // disconnected by the server, so that its lock never outlives it for long. Not every
    // server or pooler takes the setting; then a stopped holder keeps its lock until it
    // resumes or dies, as any client of such a server would.
    PQclear(PQexec(conn_.get(), kIdleInTransaction));
  }

  std::string conninfo_;
  std::unique_ptr<PGconn, ConnCloser> conn_;
  std::int64_t lock_timeout_s_ = 0;              // as last set on this connection
  std::map<std::string, std::string> prepared_;  // SQL text -> statement name
};

std::optional<std::string> Param(const TFieldValue& v) {
  if (const auto* n = std::get_if<double>(&v)) return FormatNumber(*n);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::nullopt;
}

TFieldValue Value(const PGresult* r, int row, int col, TFieldType type) {
  if (PQgetisnull(r, row, col) == 1) return std::monostate{};
  std::string text(PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col)));
  if (type == TFieldType::ftFloat || type == TFieldType::ftInteger) {
    try {
      return std::stod(text);
    } catch (const std::exception&) {
      return text;
    }
  }
  return text;
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
  static constexpr TParamStyle kStyle = TParamStyle::Dollar;

  PgTable(const std::string& conninfo, const std::string& table)
      : conn_(conninfo), table_(table), sql_table_(QuoteIdentifier(table)) {
    Result cols = conn_.Exec(
        "SELECT column_name, data_type, character_maximum_length FROM information_schema.columns "
        "WHERE table_schema = current_schema() AND table_name = $1 ORDER BY ordinal_position",
        {table}, "Cannot open table " + table);
    const int n = PQntuples(cols.get());
    if (n == 0) throw EDatabaseError("Table " + table + " does not exist");
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
           {"COMMIT", {}}},
          "Cannot store a row of table " + table_, true);
      if (PQntuples(r[0].get()) == 0)
        throw EDatabaseError("The row of table " + table_ + " was deleted");
      return Row(r[0].get(), 0);
    } catch (...) {
      conn_.Rollback();
      throw;
    }
  }

  void Unlock(TRowId /*row*/) noexcept override { conn_.Rollback(); }

  TConditional IncrementIf(TRowId row, std::size_t field, std::int64_t step,
                           const std::string& limit, const std::vector<std::size_t>& required,
                           const TRecord& expected, const std::vector<std::size_t>& set,
                           const TRecord& values, std::chrono::milliseconds wait) override {
    // The server steps the text itself, as a counter row is stepped: the row is held only
    // while the update runs.
    const std::string what = "Cannot store a row of table " + table_;
    const std::string column = QuoteIdentifier(defs_.at(field).Name);
    std::vector<std::optional<std::string>> params = {std::to_string(limit.size()),
                                                      std::to_string(step)};
    std::string sets =
        column + " = lpad((" + column + "::numeric + $2::numeric)::text, $1::int, '0')";
    for (std::size_t i = 0; i < set.size(); ++i) {
      params.push_back(Param(values.at(i)));
      sets +=
          ", " + QuoteIdentifier(defs_.at(set[i]).Name) + " = " + ParamMark(kStyle, params.size());
    }
    std::string where = Where(key_, keys_.at(Index(row)), params);
    params.emplace_back("^[0-9]{" + std::to_string(limit.size()) + "}$");
    where += " AND " + column + " ~ " + ParamMark(kStyle, params.size());
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
    conn_.Exec("BEGIN", {}, what);
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
      const Result r = conn_.Exec(update, params, what, true);
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
          {{"BEGIN", {}},
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
  std::vector<std::size_t> key_;   // fields that tell rows apart
  std::vector<TRecord> keys_;      // key values by row id
  std::map<TRecord, TRowId> ids_;  // and row ids by key values
};

}  // namespace

std::unique_ptr<TTableDriver> TPgDriver::OpenTable(const std::string& location,
                                                   const std::string& table) {
  CheckTableName(table);
  return std::make_unique<PgTable>(location, table);
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

void RegisterPgStore(TSession* session) {
  (session != nullptr ? *session : TSession::Default())
      .RegisterDriver("postgresql", std::make_shared<TPgDriver>());
}

}  // namespace tgen
