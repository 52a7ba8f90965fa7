#include "platform/store/pgstore.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string_view>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

#include "platform/base/convert.h"
#include "platform/store/session.h"
#include "platform/store/sqltext.h"

namespace tgen {

namespace {

// Closes a connection this store opened; one the application lent it stays open.
struct ConnCloser {
  bool owned = true;
  void operator()(PGconn* c) const {
    if (owned) PQfinish(c);
  }
};
struct ResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// Connection settings that keep a lost server from hanging a client.
constexpr const char* kTimeouts[][2] = {{"connect_timeout", "5"},  {"keepalives", "1"},
                                        {"keepalives_idle", "5"},  {"keepalives_interval", "2"},
                                        {"keepalives_count", "3"}, {"tcp_user_timeout", "10000"}};

// How long a call waits for the server unless a draw says otherwise (the generator's default
// MaxWait).
constexpr std::chrono::milliseconds kDefaultLimit = std::chrono::seconds(30);

constexpr const char* kIdleInTransaction = "SET idle_in_transaction_session_timeout = 5000";

// A message of the server or of libpq, without its line end.
// A message of the server or of libpq on one line: libpq puts each host it tried of a
// multi-host connection string on a line of its own, with hints indented below.
std::string Trimmed(const char* message) {
  const std::string text = Trim(message != nullptr ? message : "");
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      line += text[i] == '\t' ? ' ' : text[i];
      continue;
    }
    while (i + 1 < text.size() && (text[i + 1] == '\t' || text[i + 1] == ' '))
      ++i;
    line += "; ";
  }
  return line;
}

// What the server said besides its results while the store worked on a connection: warnings
// are kept for the call under way (a commit that comes with one may not be durable
// everywhere, see Commit), and everything else is dropped, so that nothing reaches standard
// error behind the program's back. Kept apart from the connection so that its address stays
// the same when the connection moves.
struct NoticeLog {
  std::string warning;  // the first warning of the call under way, or empty
};

void ReceiveNotice(void* arg, const PGresult* notice) {
  auto* log = static_cast<NoticeLog*>(arg);
  const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
  if (severity == nullptr || std::string_view(severity) != "WARNING" || !log->warning.empty())
    return;
  log->warning = Trimmed(PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY));
}

// One client's connection to the server: its own, or one that the application lent for a
// draw inside the transaction it holds on it. No call waits without bound: a statement still
// unanswered after the connection's limit is cancelled, and then it fails as a lock time-out,
// or, for a commit, as a commit whose outcome is unknown.
class Connection {
 public:
  explicit Connection(std::string conninfo) : conninfo_(std::move(conninfo)) { Connect(); }

  // The application's connection, inside the transaction it holds on it: what would begin or
  // commit a transaction of this store's own begins or releases a savepoint instead, statements
  // are not prepared (the names could meet the application's), and the connection's notice
  // handling stays the application's.
  explicit Connection(PGconn* lent) : conn_(lent, ConnCloser{false}), lent_(true) {
    if (PQstatus(lent) != CONNECTION_OK)
      throw ETransactionLost("The connection to the server was lost");
  }

  [[nodiscard]] bool lent() const { return lent_; }

  // How long a call may wait for the server before it is cancelled.
  void SetLimit(std::chrono::milliseconds limit) { limit_ = limit; }

  // Runs one statement with text parameters (null for SQL NULL); throws on failure.
  // `commits`: the statement runs in a transaction of its own, which a lost connection or a
  // cancelled wait for a standby leaves in doubt (ECommitUnknown).
  Result Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
              const std::string& what, bool commits = false) {
    Start();
    std::vector<const char*> values;
    std::vector<int> lengths;
    Pack(params, values, lengths);
    PGconn* c = conn_.get();
    const int sent = lent_ ? PQsendQueryParams(c, sql.c_str(), static_cast<int>(params.size()),
                                               nullptr, values.data(), lengths.data(), nullptr, 0)
                           : PQsendQueryPrepared(c, Prepared(sql, params.size(), what).c_str(),
                                                 static_cast<int>(params.size()), values.data(),
                                                 lengths.data(), nullptr, 0);
    Result r = sent == 1 ? Next() : nullptr;
    while (r) {  // the rest, up to the end of the statement's results
      Result extra = Next();
      if (!extra) break;
      // A failure after the rows is the outcome: a statement in a transaction of its own
      // commits only at its end, and a server ending the session there commits nothing.
      if (!Succeeded(extra.get())) r = std::move(extra);
    }
    if (Succeeded(r.get())) {
      Note(sql);
      if (commits) CheckCommitted(what);
      return r;
    }
    // A statement that was never sent whole committed nothing: a plain failure, tried again.
    if (commits && sent == 1 && PQstatus(c) != CONNECTION_OK) throw Unknown(what);
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
    Start();
    std::vector<const std::string*> names;
    if (!lent_) {
      names.reserve(statements.size());
      for (const Statement& s : statements)
        names.push_back(&Prepared(s.sql, s.params.size(), what));
    }
    PGconn* c = conn_.get();
    bool sent = PQenterPipelineMode(c) == 1;
    for (std::size_t i = 0; sent && i < statements.size(); ++i) {
      const Statement& s = statements[i];
      std::vector<const char*> values;
      std::vector<int> lengths;
      Pack(s.params, values, lengths);
      const int n = static_cast<int>(s.params.size());
      sent = (lent_ ? PQsendQueryParams(c, s.sql.c_str(), n, nullptr, values.data(), lengths.data(),
                                        nullptr, 0)
                    : PQsendQueryPrepared(c, names[i]->c_str(), n, values.data(), lengths.data(),
                                          nullptr, 0)) == 1;
    }
    sent = sent && PQpipelineSync(c) == 1;
    std::vector<Result> results;
    bool complete = sent;
    for (std::size_t i = 0; complete && i < statements.size(); ++i) {
      Result r = Next();
      complete = r != nullptr && PQstatus(c) == CONNECTION_OK;
      while (complete) {  // the rest of this statement's results, up to its end mark
        Result extra = Next();
        if (!extra) break;
        if (!Succeeded(extra.get())) r = std::move(extra);  // a later failure is the outcome
        complete = PQstatus(c) == CONNECTION_OK;
      }
      results.push_back(std::move(r));
    }
    if (complete) {
      const Result sync = Next();
      complete = sync && PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC;
    }
    if (!complete || PQexitPipelineMode(c) != 1 || PQstatus(c) != CONNECTION_OK) {
      if (!lent_) conn_.reset();  // the next call connects afresh
      if (commits && sent) throw Unknown(what);
      if (lent_) throw ETransactionLost(what + ": the connection to the server was lost");
      throw EDatabaseError(what + ": the connection to the server was lost");
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (Succeeded(results[i].get())) Note(statements[i].sql);
    }
    for (const Result& r : results) {
      if (!Succeeded(r.get()) && PQresultStatus(r.get()) != PGRES_PIPELINE_ABORTED) {
        Throw(r.get(), what);
      }
    }
    if (commits) CheckCommitted(what);
    return results;
  }

  // What begins and ends a unit of this store's work: a transaction of its own, or a savepoint
  // inside the application's.
  [[nodiscard]] const char* BeginText() const { return lent_ ? "SAVEPOINT tgen_draw" : "BEGIN"; }
  [[nodiscard]] const char* CommitText() const {
    return lent_ ? "RELEASE SAVEPOINT tgen_draw" : "COMMIT";
  }

  // Runs `sql` as one unit of work: in a transaction of its own (autocommit), or inside the
  // application's transaction in a savepoint, so that a failure leaves that transaction as it
  // was.
  Result Atomic(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                const std::string& what) {
    if (!lent_) return Exec(sql, params, what, true);
    std::vector<Result> r =
        Pipeline({{BeginText(), {}}, {sql, params}, {CommitText(), {}}}, what, false);
    return std::move(r[1]);
  }

  // Ends a unit of work that BeginText began; a connection lost on the way leaves the outcome
  // unknown, and says so.
  void Commit(const std::string& what) { Exec(CommitText(), {}, what, !lent_); }

  // Sets how long a statement waits for a row lock, for the rest of the session, in whole
  // seconds (rounded up, at least one), so that draws in a row send it once; a call waits a
  // second longer than that before it is cancelled. Inside the application's transaction the
  // session is the application's: only the call's own limit applies.
  void SetLockTimeout(std::chrono::milliseconds wait, const std::string& what) {
    const auto seconds = std::max<std::int64_t>((wait.count() + 999) / 1000, 1);
    if (lent_) {
      limit_ = std::max(wait, std::chrono::milliseconds(1));
      return;
    }
    limit_ = std::chrono::seconds(seconds + 1);
    if (PQstatus(conn_.get()) == CONNECTION_OK && seconds == lock_timeout_s_) return;
    Exec("SELECT set_config('lock_timeout', $1, false)", {std::to_string(seconds) + "s"}, what);
    lock_timeout_s_ = seconds;
  }

  // Undoes the unit of work under way, if any; never throws.
  void Rollback() noexcept {
    // A lent connection may be closed by now, between two draws: touch it only with work of
    // this store's own under way.
    if (lent_ && !unit_open_) return;
    PGconn* c = conn_.get();
    if (c == nullptr || PQstatus(c) != CONNECTION_OK || PQpipelineStatus(c) != PQ_PIPELINE_OFF ||
        PQtransactionStatus(c) == PQTRANS_IDLE) {
      return;
    }
    if (!lent_) {
      PQclear(PQexec(c, "ROLLBACK"));
      return;
    }
    // Inside the application's transaction: back to the savepoint, if this store's work left
    // one open; a statement naming a savepoint that is not there would fail the application's
    // transaction.
    if (!unit_open_) return;
    unit_open_ = false;
    const Result back(PQexec(c, "ROLLBACK TO SAVEPOINT tgen_draw"));
    if (PQresultStatus(back.get()) == PGRES_COMMAND_OK)
      PQclear(PQexec(c, "RELEASE SAVEPOINT tgen_draw"));
  }

 private:
  // Keeps track of whether a unit of work is open after `sql` succeeded.
  void Note(const std::string& sql) {
    if (sql == BeginText()) unit_open_ = true;
    if (sql == CommitText()) unit_open_ = false;
  }

  static void Pack(const std::vector<std::optional<std::string>>& params,
                   std::vector<const char*>& values, std::vector<int>& lengths) {
    values.reserve(params.size());
    lengths.reserve(params.size());
    for (const auto& p : params) {
      values.push_back(p ? p->data() : nullptr);
      lengths.push_back(p ? static_cast<int>(p->size()) : 0);
    }
  }

  // Readies the connection for a call: connected, no warning or cancel from an earlier call,
  // and the call's deadline.
  void Start() {
    if (lent_) {
      const PGconn* c = conn_.get();
      if (PQstatus(c) != CONNECTION_OK)
        throw ETransactionLost("The connection to the server was lost");
      if (PQtransactionStatus(c) == PQTRANS_INERROR) {
        throw ETransactionLost(
            "The transaction failed before this statement; it must be rolled back");
      }
    } else if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
      Connect();
    }
    notices_->warning.clear();
    cancelled_ = false;
    deadline_ = std::chrono::steady_clock::now() + limit_;
  }

  // The next result of the call under way, waiting for it up to the call's deadline; after
  // that the server is asked to cancel the statement, and its answer is waited for (a server
  // that is gone is noticed by the connection's keep-alives).
  Result Next() {
    PGconn* c = conn_.get();
    while (PQisBusy(c) == 1) {
      if (PQconsumeInput(c) != 1) break;  // the connection broke: PQgetResult says so
      if (PQisBusy(c) != 1) break;
      int timeout = -1;
      if (!cancelled_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          Cancel();
          continue;
        }
        timeout = static_cast<int>(std::min<std::int64_t>(left.count() + 1, 1 << 30));
      }
      pollfd ready{PQsocket(c), POLLIN, 0};
      if (::poll(&ready, 1, timeout) < 0 && errno != EINTR) break;
    }
    return Result(PQgetResult(c));
  }

  void Cancel() {
    cancelled_ = true;
    PGcancel* cancel = PQgetCancel(conn_.get());
    if (cancel == nullptr) return;
    // PQcancel opens a connection of its own without any time-out: during a network partition
    // it would block for as long as the system tries to connect, minutes past MaxWait. It is
    // sent from a thread of its own; the wait for the statement's end stays bounded by the
    // connection's keep-alives and TCP user time-out.
    std::thread([cancel] {
      std::array<char, 256> error{};
      PQcancel(cancel, error.data(), static_cast<int>(error.size()));
      PQfreeCancel(cancel);
    }).detach();
  }

  // A commit that the server reported done is durable only where the server could wait for
  // it: one whose wait was cancelled (by this client's limit, or by the server, which then
  // warns "canceling wait for synchronous replication") is committed on this server but
  // perhaps not on its synchronous standby, which a failover makes the primary. Such a commit
  // counts as one whose outcome is unknown.
  void CheckCommitted(const std::string& what) const {
    if (cancelled_) {
      throw ECommitUnknown(what + ": the server did not confirm the commit within " +
                           std::to_string(limit_.count()) +
                           " ms (a standby it waits for may be gone); whether it was stored "
                           "is unknown");
    }
    if (!notices_->warning.empty()) {
      throw ECommitUnknown(what + ": the server reported the commit with a warning (" +
                           notices_->warning + "); whether it was stored everywhere is unknown");
    }
  }

  [[nodiscard]] static ECommitUnknown Unknown(const std::string& what) {
    return ECommitUnknown(what +
                          ": the connection to the server was lost during COMMIT; whether it was "
                          "stored is unknown");
  }

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
    if (code == "57014" && cancelled_) {
      throw ELockTimeout(what + ": no answer within " + std::to_string(limit_.count()) + " ms");
    }
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      const std::string lost = what + ": the connection to the server was lost (" +
                               Trimmed(PQerrorMessage(conn_.get())) + ")";
      if (lent_) throw ETransactionLost(lost);
      throw EDatabaseError(lost);
    }
    if (lent_ && code == "25P02") throw ETransactionLost(what + ": " + reason);
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
      throw EDatabaseError("Cannot connect to " + HidePassword(conninfo_) + ": " + reason,
                           TErrorKind::kUnavailable);
    }
    PQsetNoticeReceiver(conn_.get(), ReceiveNotice, notices_.get());
    // A client that stops while it holds a row (its transaction idle: stopped, or hung) is
    // disconnected by the server, so that its lock never outlives it for long. Not every
    // server or pooler takes the setting; then a stopped holder keeps its lock until it
    // resumes or dies, as any client of such a server would.
    PQclear(PQexec(conn_.get(), kIdleInTransaction));
  }

  std::string conninfo_;
  std::unique_ptr<PGconn, ConnCloser> conn_;
  bool lent_ = false;
  std::unique_ptr<NoticeLog> notices_ = std::make_unique<NoticeLog>();
  std::chrono::milliseconds limit_ = kDefaultLimit;
  std::chrono::steady_clock::time_point deadline_;
  bool cancelled_ = false;                       // the call under way had to be cancelled
  bool unit_open_ = false;                       // BeginText succeeded, CommitText did not yet
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
          "Cannot store a row of table " + table_, !conn_.lent());
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

  void WriteRows(const std::vector<std::size_t>& key, const std::vector<TRecord>& add,
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
      for (const TRecord& r : add) {
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
      }
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
  std::vector<std::size_t> key_;   // fields that tell rows apart
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
  (session != nullptr ? *session : TSession::Default())
      .RegisterDriver("postgresql", std::make_shared<TPgDriver>());
}

}  // namespace tgen
