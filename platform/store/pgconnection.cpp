#include "platform/store/pgconnection.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <string_view>
#include <thread>

#include "platform/base/convert.h"
#include "platform/store/pgstore.h"

namespace tgen::pg {

namespace {

// Connection settings that keep a lost server from hanging a client.
constexpr const char* kTimeouts[][2] = {{"connect_timeout", "5"},  {"keepalives", "1"},
                                        {"keepalives_idle", "5"},  {"keepalives_interval", "2"},
                                        {"keepalives_count", "3"}, {"tcp_user_timeout", "10000"}};

constexpr const char* kIdleInTransaction = "SET idle_in_transaction_session_timeout = 5000";

}  // namespace

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

void ReceiveNotice(void* arg, const PGresult* notice) {
  auto* log = static_cast<NoticeLog*>(arg);
  const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
  if (severity == nullptr || std::string_view(severity) != "WARNING" || !log->warning.empty())
    return;
  log->warning = Trimmed(PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY));
}

Connection::Connection(PGconn* lent) : conn_(lent, ConnCloser{false}), lent_(true) {
  if (PQstatus(lent) != CONNECTION_OK)
    throw ETransactionLost("The connection to the server was lost");
}

Result Connection::Exec(const std::string& sql,
                        const std::vector<std::optional<std::string>>& params,
                        const std::string& what, bool commits) {
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

void Connection::StartCopy(const std::string& sql, const std::string& what,
                           ExecStatusType copying) {
  Start();
  const Result started = PQsendQuery(conn_.get(), sql.c_str()) == 1 ? Next() : nullptr;
  if (PQresultStatus(started.get()) == copying) return;
  while (const Result rest = Next()) {
  }
  Throw(started.get(), what);
}

Result Connection::FirstFailure() {
  Result failure;
  for (Result r = Next(); r; r = Next()) {
    if (!Succeeded(r.get()) && !failure) failure = std::move(r);
  }
  return failure;
}

void Connection::CopyIn(
    const std::string& sql, const std::string& what,
    const std::function<void(const std::function<void(std::string_view)>&)>& feed) {
  StartCopy(sql, what, PGRES_COPY_IN);
  PGconn* c = conn_.get();
  constexpr std::size_t kMessage = 1 << 18;
  std::string buffer;
  buffer.reserve(kMessage + 256);
  bool sent = true;
  const auto send = [&] {
    sent = sent && PQputCopyData(c, buffer.data(), static_cast<int>(buffer.size())) == 1;
    buffer.clear();
  };
  std::exception_ptr thrown;
  try {
    feed([&](std::string_view line) {
      buffer += line;
      if (buffer.size() >= kMessage) send();
    });
    send();
  } catch (...) {
    thrown = std::current_exception();
  }
  sent = PQputCopyEnd(c, thrown || !sent ? "abandoned by the client" : nullptr) == 1 && sent;
  deadline_ = std::chrono::steady_clock::now() + limit_;  // for the server's last word
  const Result failure = FirstFailure();
  if (thrown) std::rethrow_exception(thrown);
  if (failure || !sent) Throw(failure.get(), what);
}

void Connection::CopyOut(const std::string& sql, const std::string& what,
                         const std::function<void(std::string_view)>& line) {
  StartCopy(sql, what, PGRES_COPY_OUT);
  PGconn* c = conn_.get();
  std::exception_ptr thrown;
  for (;;) {
    char* data = nullptr;
    const int n = PQgetCopyData(c, &data, 0);  // waits for the next line; below 0 at the end
    if (n < 0) break;
    if (!thrown) {
      try {
        line(std::string_view(data, static_cast<std::size_t>(n)));
      } catch (...) {
        thrown = std::current_exception();
      }
    }
    PQfreemem(data);
  }
  const Result failure = FirstFailure();
  if (failure) Throw(failure.get(), what);
  if (thrown) std::rethrow_exception(thrown);
}

std::vector<Result> Connection::Pipeline(const std::vector<Statement>& statements,
                                         const std::string& what, bool commits) {
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

Result Connection::Atomic(const std::string& sql,
                          const std::vector<std::optional<std::string>>& params,
                          const std::string& what) {
  if (!lent_) return Exec(sql, params, what, true);
  std::vector<Result> r =
      Pipeline({{BeginText(), {}}, {sql, params}, {CommitText(), {}}}, what, false);
  return std::move(r[1]);
}

void Connection::SetLockTimeout(std::chrono::milliseconds wait, const std::string& what) {
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

void Connection::Rollback() noexcept {
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

void Connection::Note(const std::string& sql) {
  if (sql == BeginText()) unit_open_ = true;
  if (sql == CommitText()) unit_open_ = false;
}

void Connection::Pack(const std::vector<std::optional<std::string>>& params,
                      std::vector<const char*>& values, std::vector<int>& lengths) {
  values.reserve(params.size());
  lengths.reserve(params.size());
  for (const auto& p : params) {
    values.push_back(p ? p->data() : nullptr);
    lengths.push_back(p ? static_cast<int>(p->size()) : 0);
  }
}

void Connection::Start() {
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

Result Connection::Next() {
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

void Connection::Cancel() {
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

void Connection::CheckCommitted(const std::string& what) const {
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

ECommitUnknown Connection::Unknown(const std::string& what) {
  return ECommitUnknown(what +
                        ": the connection to the server was lost during COMMIT; whether it was "
                        "stored is unknown");
}

const std::string& Connection::Prepared(const std::string& sql, std::size_t params,
                                        const std::string& what) {
  const auto found = prepared_.find(sql);
  if (found != prepared_.end()) return found->second;
  std::string name = "tgen_" + std::to_string(prepared_.size() + 1);
  const Result r(
      PQprepare(conn_.get(), name.c_str(), sql.c_str(), static_cast<int>(params), nullptr));
  if (!Succeeded(r.get())) Throw(r.get(), what);
  return prepared_.emplace(sql, std::move(name)).first->second;
}

bool Connection::Succeeded(const PGresult* r) {
  const ExecStatusType status = r != nullptr ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

void Connection::Throw(const PGresult* r, const std::string& what) {
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

void Connection::Connect() {
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

}  // namespace tgen::pg
