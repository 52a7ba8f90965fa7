// The PostgreSQL store: an alias is a connection string ("postgresql://user@host/db" or
// "host=... dbname=..."), and tables are the tables of that database's current schema.
//
// Every cursor has its own connection. Locate reads a row by its key; Edit opens a
// transaction and takes the row with SELECT ... FOR UPDATE NOWAIT, so that a client finding
// the row in another client's edit fails at once; Post writes and commits; Cancel rolls back.
// A row is known by the table's unique key (for generator tables GenID and Prefix). A lost
// connection is an error, never a hang (connect and keep-alive time-outs), and the next call
// connects again; a commit whose outcome is unknown is reported as such. Passwords never
// appear in messages.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/recordstore.h"

struct pg_conn;
struct pg_result;

namespace tgen {

class TSession;

class TPgDriver final : public TStoreDriver {
 public:
  std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                          const std::string& table) override;
  std::vector<std::string> TableNames(const std::string& location) override;
  // The connection string without its password.
  [[nodiscard]] std::string DisplayUri(const std::string& scheme,
                                       const std::string& location) override;
  void CreateTable(const std::string& location, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
};

// The application's own transaction on its libpq connection `conn` (a PGconn*), for drawing keys
// whose steps commit or roll back with the application's records (gap-free sequences). The
// constructor sends BEGIN (the connection must be outside a transaction); the destructor rolls
// back unless Commit came first. Use the default isolation, READ COMMITTED: under stricter ones a
// draw that meets another client's step fails with a serialization error.
//
// A draw inside takes its sequence's row with the row lock, held until the transaction ends:
// every other client of that sequence waits meanwhile, so keep the transaction short. Each
// draw runs in a savepoint, so that a draw that fails (a lock wait longer than MaxWait) leaves
// the transaction usable. No call waits for the server longer than `wait` (the commit
// included): a commit still unconfirmed then is cancelled and reported as ECommitUnknown, since
// it may have been stored on the server but not on its synchronous standby; so is a commit that
// the server reports done with a warning (its wait for the standby was cut short). To hear that
// warning, Commit puts its own notice receiver on the connection for the COMMIT and hands every
// notice on: to `receiver` with `receiver_arg` when given, else to libpq's default receiver.
// An application that set a receiver of its own passes it here, since libpq cannot tell a
// receiver's argument; when it did not, its receiver is left alone and such a warning goes
// unheard. The connection stays the application's: it is not closed, its settings stay as they
// are, and nothing is prepared on it. It must outlive the transaction object.
using TPgNoticeReceiver = void (*)(void* arg, const pg_result* notice);
class TPgTransaction final : public TAppTransaction {
 public:
  explicit TPgTransaction(pg_conn* conn, std::chrono::milliseconds wait = std::chrono::seconds(30),
                          TPgNoticeReceiver receiver = nullptr, void* receiver_arg = nullptr);
  ~TPgTransaction() override;
  TPgTransaction(const TPgTransaction&) = delete;
  TPgTransaction& operator=(const TPgTransaction&) = delete;

  std::unique_ptr<TTableDriver> OpenTable(const std::string& table) override;
  void CreateTable(const std::string& table, const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override;
  void Commit() override;
  void Rollback() noexcept override;
  [[nodiscard]] bool Active() const override { return active_; }
  // The connection and the server process behind it.
  [[nodiscard]] std::string Reusable() const override;

 private:
  void CheckActive() const;

  pg_conn* conn_;
  std::chrono::milliseconds wait_;
  TPgNoticeReceiver receiver_;
  void* receiver_arg_;
  bool active_ = false;
};

// Makes `session` (by default the process's) open PostgreSQL aliases. Safe to repeat.
void RegisterPgStore(TSession* session = nullptr);

// The connection string with any password replaced by "***", for messages and listings.
std::string HidePassword(const std::string& connection);

}  // namespace tgen
