// One client's connection to a PostgreSQL server for the PostgreSQL store: statements with
// text parameters, prepared once per connection, pipelined where several go in one round trip,
// and every failure told as what it means to the caller (a lock time-out, a commit whose
// outcome is unknown, the application's transaction lost). Internal to the store's library.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/exception.h"

namespace tgen::pg {

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

// How long a call waits for the server unless a draw says otherwise (the generator's default
// MaxWait).
constexpr std::chrono::milliseconds kDefaultLimit = std::chrono::seconds(30);

// A message of the server or of libpq on one line: libpq puts each host it tried of a
// multi-host connection string on a line of its own, with hints indented below.
std::string Trimmed(const char* message);

// What the server said besides its results while the store worked on a connection: warnings
// are kept for the call under way (a commit that comes with one may not be durable
// everywhere, see Commit), and everything else is dropped, so that nothing reaches standard
// error behind the program's back. Kept apart from the connection so that its address stays
// the same when the connection moves.
struct NoticeLog {
  std::string warning;  // the first warning of the call under way, or empty
};

// Keeps the first warning of `notice` in the NoticeLog `arg`; a libpq notice receiver.
void ReceiveNotice(void* arg, const PGresult* notice);

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
  explicit Connection(PGconn* lent);

  [[nodiscard]] bool Lent() const { return lent_; }

  // How long a call may wait for the server before it is cancelled.
  void SetLimit(std::chrono::milliseconds limit) { limit_ = limit; }

  // Runs one statement with text parameters (null for SQL NULL); throws on failure.
  // `commits`: the statement runs in a transaction of its own, which a lost connection or a
  // cancelled wait for a standby leaves in doubt (ECommitUnknown).
  Result Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
              const std::string& what, bool commits = false);

  // Runs `sql`, a COPY ... FROM STDIN: `feed` hands its data, a line per row in COPY's text
  // format, to the function it is given, and the lines go to the server in large messages. A
  // failure of the server, or an exception from `feed`, ends the COPY with nothing of it kept,
  // and is thrown.
  void CopyIn(const std::string& sql, const std::string& what,
              const std::function<void(const std::function<void(std::string_view)>&)>& feed);

  // Runs `sql`, a COPY ... TO STDOUT, and hands each line of its data (a row in COPY's text
  // format, with its line end) to `line` as it arrives. A failure of the server is thrown; an
  // exception from `line` is thrown once the rest of the data has been taken.
  void CopyOut(const std::string& sql, const std::string& what,
               const std::function<void(std::string_view)>& line);

  struct Statement {
    std::string sql;
    std::vector<std::optional<std::string>> params;
  };

  // Sends `statements` as one message (libpq's pipeline mode: one round trip) and returns their
  // results in order; throws for the first that failed, as Exec does. `commits`: the last
  // statement is a COMMIT, so a connection lost before every answer came leaves the outcome
  // unknown (ECommitUnknown).
  std::vector<Result> Pipeline(const std::vector<Statement>& statements, const std::string& what,
                               bool commits);

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
                const std::string& what);

  // Ends a unit of work that BeginText began; a connection lost on the way leaves the outcome
  // unknown, and says so.
  void Commit(const std::string& what) { Exec(CommitText(), {}, what, !lent_); }

  // Sets how long a statement waits for a row lock, for the rest of the session, in whole
  // seconds (rounded up, at least one), so that draws in a row send it once; a call waits a
  // second longer than that before it is cancelled. Inside the application's transaction the
  // session is the application's: only the call's own limit applies.
  void SetLockTimeout(std::chrono::milliseconds wait, const std::string& what);

  // Undoes the unit of work under way, if any; never throws.
  void Rollback() noexcept;

 private:
  // Keeps track of whether a unit of work is open after `sql` succeeded.
  void Note(const std::string& sql);

  static void Pack(const std::vector<std::optional<std::string>>& params,
                   std::vector<const char*>& values, std::vector<int>& lengths);

  // Sends `sql`, a COPY, and waits until the server takes or sends its data (`copying`:
  // PGRES_COPY_IN or PGRES_COPY_OUT); the server's refusal is thrown.
  void StartCopy(const std::string& sql, const std::string& what, ExecStatusType copying);
  // The rest of a call's results, up to their end: the first failure among them, if any.
  Result FirstFailure();

  // Readies the connection for a call: connected, no warning or cancel from an earlier call,
  // and the call's deadline.
  void Start();

  // The next result of the call under way, waiting for it up to the call's deadline; after
  // that the server is asked to cancel the statement, and its answer is waited for (a server
  // that is gone is noticed by the connection's keep-alives).
  Result Next();

  void Cancel();

  // A commit that the server reported done is durable only where the server could wait for
  // it: one whose wait was cancelled (by this client's limit, or by the server, which then
  // warns "canceling wait for synchronous replication") is committed on this server but
  // perhaps not on its synchronous standby, which a failover makes the primary. Such a commit
  // counts as one whose outcome is unknown.
  void CheckCommitted(const std::string& what) const;

  [[nodiscard]] static ECommitUnknown Unknown(const std::string& what);

  // The name of `sql` prepared on this connection, preparing it on first use: the server
  // parses and plans each statement once per connection, not once per call.
  const std::string& Prepared(const std::string& sql, std::size_t params, const std::string& what);

  static bool Succeeded(const PGresult* r);

  // The failure that `r` reports, as the exception that says what it means to the caller.
  [[noreturn]] void Throw(const PGresult* r, const std::string& what);

  void Connect();

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

}  // namespace tgen::pg
