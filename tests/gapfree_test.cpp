// Keys drawn inside the application's own transaction: they commit and roll back with the
// application's records, so that a sequence drawn only this way has no gaps. Real processes on
// a real SQLite file and a real PostgreSQL server, killed clients among them.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/generator.h"
#include "core/stores.h"
#include "platform/base/notice.h"
#include "platform/base/process_testing.h"
#include "platform/store/pgscratch_testing.h"
#include "platform/store/pgstore.h"
#include "platform/store/scratch_testing.h"
#include "platform/store/session.h"
#include "platform/store/sqlitestore.h"

namespace tgen {
namespace {

constexpr const char* kMask = "INV-####";

// The application's own database: an invoice table whose numbers are keys, and the generator
// table beside it. One connection per process.
class AppDb {
 public:
  AppDb() = default;
  AppDb(const AppDb&) = delete;
  AppDb& operator=(const AppDb&) = delete;
  virtual ~AppDb() = default;
  virtual std::unique_ptr<TAppTransaction> Begin(std::chrono::milliseconds wait) = 0;
  // Runs SQL in the transaction under way (or alone); false when it failed.
  virtual bool Run(const std::string& sql) = 0;
  // The committed invoice numbers, in order.
  virtual std::vector<std::string> Numbers() = 0;

  void AddInvoice(const std::string& number) {
    ASSERT_TRUE(Run("INSERT INTO invoice (number) VALUES ('" + number + "')"));
  }
};

class SqliteApp final : public AppDb {
 public:
  explicit SqliteApp(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_busy_timeout(db_, 100);
    sqlite3_exec(db_, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL", nullptr, nullptr,
                 nullptr);
  }
  // A generator that drew inside the application's transactions keeps no statement on its
  // connection once they ended: the application can close it.
  ~SqliteApp() override { EXPECT_EQ(sqlite3_close(db_), SQLITE_OK) << sqlite3_errmsg(db_); }
  std::unique_ptr<TAppTransaction> Begin(std::chrono::milliseconds wait) override {
    return std::make_unique<TSqliteTransaction>(db_, wait);
  }
  bool Run(const std::string& sql) override {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  std::vector<std::string> Numbers() override {
    std::vector<std::string> numbers;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, "SELECT number FROM invoice ORDER BY number", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
      numbers.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return numbers;
  }

 private:
  sqlite3* db_ = nullptr;
};

class PgApp final : public AppDb {
 public:
  explicit PgApp(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {
    PQsetNoticeProcessor(
        conn_, [](void* self, const char* text) { static_cast<PgApp*>(self)->notices_ += text; },
        this);
  }
  // What the server told the application besides its results.
  [[nodiscard]] const std::string& Notices() const { return notices_; }
  ~PgApp() override { PQfinish(conn_); }
  std::unique_ptr<TAppTransaction> Begin(std::chrono::milliseconds wait) override {
    return std::make_unique<TPgTransaction>(conn_, wait);
  }
  bool Run(const std::string& sql) override {
    PGresult* r = PQexec(conn_, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    return ok;
  }
  std::vector<std::string> Numbers() override {
    std::vector<std::string> numbers;
    PGresult* r = PQexec(conn_, "SELECT number FROM invoice ORDER BY number");
    for (int i = 0; i < PQntuples(r); ++i)
      numbers.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    return numbers;
  }
  [[nodiscard]] int BackendPid() const { return PQbackendPID(conn_); }

 private:
  PGconn* conn_;
  std::string notices_;
};

// The first `n` keys of the mask's sequence, in order.
std::vector<std::string> FirstKeys(int n) {
  std::vector<std::string> keys;
  for (int i = 1; i <= n; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "INV-%04d", i);
    keys.emplace_back(key);
  }
  return keys;
}

// A fresh application database of the store the test is given, with its invoice table and a
// generator table GENTBL made inside one transaction, and the alias App on the same database
// for clients that draw the ordinary way.
class GapFreeTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    UseStandardStores();
    if (Sqlite()) {
      place_ = (dir_ / "app.db").string();
    } else {
      if (std::getenv("TGEN_PG_URI") == nullptr)
        GTEST_SKIP() << "no PostgreSQL server (run under with-postgres.sh)";
      database_ = std::make_unique<testing::ScratchPgDatabase>("gapfree");
      place_ = database_->Uri();
    }
    // The alias App on the application's database: a SQLite file or a PostgreSQL database.
    dir_.Aliases("App = " + std::string(Sqlite() ? "sqlite:" : "") + place_ + "\n");
    const std::unique_ptr<AppDb> db = Open();
    const std::unique_ptr<TAppTransaction> tx = db->Begin(std::chrono::seconds(5));
    ASSERT_TRUE(db->Run("CREATE TABLE invoice (number VARCHAR(20) PRIMARY KEY)"));
    CreateGeneratorTable(*tx, "GENTBL");
    tx->Commit();
  }

  [[nodiscard]] static bool Sqlite() { return std::string(GetParam()) == "sqlite"; }
  [[nodiscard]] std::unique_ptr<AppDb> Open() const {
    if (Sqlite()) return std::make_unique<SqliteApp>(place_);
    return std::make_unique<PgApp>(place_);
  }
  static std::unique_ptr<TGenerator> Invoices(int max_wait = 5) {
    auto g = std::make_unique<TGenerator>();
    g->SetMask(kMask);
    g->SetStartValue(TmString("0001"));
    g->SetTableName("GENTBL");
    g->SetMaxWait(max_wait);
    return g;
  }
  // The same sequence drawn the ordinary way, through the alias App.
  static std::unique_ptr<TGenerator> Ordinary(TLockMode mode, int max_wait) {
    std::unique_ptr<TGenerator> g = Invoices(max_wait);
    g->SetDataBaseName("App");
    g->SetLockMode(mode);
    g->InitDB();
    return g;
  }
  // One record with its number in one transaction, committed or rolled back.
  static std::string Record(AppDb& db, TGenerator& g, bool commit) {
    const std::unique_ptr<TAppTransaction> tx = db.Begin(std::chrono::seconds(10));
    const std::string number = g.GenerateIn(*tx).str();
    db.AddInvoice(number);
    if (commit) {
      tx->Commit();
    } else {
      tx->Rollback();
    }
    return number;
  }

  testing::ScratchFolder dir_{"gapfree"};
  std::string place_;  // the SQLite file or the PostgreSQL connection string
  std::unique_ptr<testing::ScratchPgDatabase> database_;
};

TEST_P(GapFreeTest, CommitKeepsTheKeyAndRollbackHandsItBack) {
  const std::unique_ptr<AppDb> db = Open();
  const std::unique_ptr<TGenerator> g = Invoices();
  EXPECT_EQ(Record(*db, *g, true), "INV-0001");
  EXPECT_EQ(Record(*db, *g, false), "INV-0002");
  EXPECT_EQ(Record(*db, *g, false), "INV-0002");
  {
    // A transaction that ends without a word rolls back as well.
    const std::unique_ptr<TAppTransaction> tx = db->Begin(std::chrono::seconds(5));
    EXPECT_EQ(g->GenerateIn(*tx).str(), "INV-0002");
  }
  EXPECT_EQ(Record(*db, *g, true), "INV-0002");
  EXPECT_EQ(db->Numbers(), FirstKeys(2));

  // A transaction that has ended, or that a failed statement ended, draws nothing.
  const std::unique_ptr<TAppTransaction> ended = db->Begin(std::chrono::seconds(5));
  ended->Commit();
  EXPECT_THROW(g->GenerateIn(*ended), EDatabaseError);
  EXPECT_THROW(ended->Commit(), EDatabaseError);
  if (!Sqlite()) {
    const std::unique_ptr<TAppTransaction> failed = db->Begin(std::chrono::seconds(5));
    EXPECT_FALSE(db->Run("SELECT 1 / 0"));
    EXPECT_THROW(g->GenerateIn(*failed), ETransactionLost);
    EXPECT_THROW(failed->Commit(), EDatabaseError);
  } else {
    // SQLite ends the whole transaction after a full disk or an I/O error: the draw stores
    // nothing outside it.
    const std::unique_ptr<TAppTransaction> ended_by_sqlite = db->Begin(std::chrono::seconds(5));
    ASSERT_TRUE(db->Run("ROLLBACK"));
    EXPECT_THROW(g->GenerateIn(*ended_by_sqlite), ETransactionLost);
  }
  EXPECT_EQ(Record(*db, *g, true), "INV-0003");

  // A suffix the store cannot step itself (letters, sets) is stepped by the generator from the
  // row as the transaction sees it, also after a rollback moved it back under a cursor that
  // serves transaction after transaction.
  g->SetMask("INV-[AB]&&");
  g->SetGeneratorType(1);  // a sequence of its own
  const std::string dropped = Record(*db, *g, false);
  EXPECT_EQ(Record(*db, *g, true), dropped);
  EXPECT_NE(Record(*db, *g, true), dropped);
  EXPECT_EQ(db->Numbers().size(), 5U);
}

TEST_P(GapFreeTest, AHeldRowIsWaitedForNoLongerThanMaxWait) {
  const std::unique_ptr<AppDb> holder = Open();
  const std::unique_ptr<AppDb> other = Open();
  const std::unique_ptr<TGenerator> g = Invoices(1);
  const std::unique_ptr<TAppTransaction> held = holder->Begin(std::chrono::seconds(5));
  EXPECT_EQ(g->GenerateIn(*held).str(), "INV-0001");
  if (Sqlite()) {
    // The whole database is the holder's until it ends.
    EXPECT_THROW(other->Begin(std::chrono::milliseconds(300)), ELockTimeout);
  } else {
    const std::unique_ptr<TAppTransaction> waiting = other->Begin(std::chrono::seconds(5));
    const std::unique_ptr<TGenerator> rival = Invoices(1);
    try {
      rival->GenerateIn(*waiting);
      ADD_FAILURE() << "a draw went past the held row";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find("stayed busy for 1 seconds"), std::string::npos) << e.Message();
    }
    // The failed draw left the waiting transaction usable.
    other->AddInvoice("OTHER-1");
    waiting->Commit();
  }
  held->Rollback();
  EXPECT_EQ(Record(*other, *g, true), "INV-0001");
}

// Four processes insert invoices, each numbered inside the transaction that inserts it, and
// roll back one in three; a fifth draws the ordinary way meanwhile, through an alias on the
// same database; a sixth is killed inside its transaction, its invoice uncommitted, while they
// start. The committed numbers and the fifth's keys are exactly the first keys of the
// sequence: no gap, no repeat, and no lock left by the one killed.
TEST_P(GapFreeTest, ProcessesRollingBackOrKilledLeaveNoGap) {
  constexpr int kProcesses = 4;
  constexpr int kRecords = 15;
  const auto client = [this](int p) {
    return [this, p] {
      if (p == kProcesses) {
        const std::unique_ptr<TGenerator> g = Ordinary(TLockMode::lmTransaction, 20);
        for (int i = 0; i < kRecords; ++i)
          std::printf("%s\n", g->Generator().str().c_str());
        return 0;
      }
      const std::unique_ptr<TGenerator> g = Invoices(20);
      const std::unique_ptr<AppDb> db = Open();
      if (p > kProcesses) {
        const std::unique_ptr<TAppTransaction> tx = db->Begin(std::chrono::seconds(5));
        db->AddInvoice(g->GenerateIn(*tx).str());
        std::printf("drawn\n");
        std::fflush(stdout);
        pause();  // killed here, with the row and the invoice uncommitted
      }
      for (int i = 0; i < kRecords; ++i)
        Record(*db, *g, i % 3 != 2);
      return 0;
    };
  };
  testing::Process killed(client(kProcesses + 1));
  ASSERT_TRUE(killed.ReadLine(std::chrono::seconds(30)));
  std::vector<std::unique_ptr<testing::Process>> clients;
  for (int p = 0; p <= kProcesses; ++p)
    clients.push_back(std::make_unique<testing::Process>(client(p)));
  killed.Kill(SIGKILL);
  std::vector<std::string> numbers;
  for (const auto& c : clients) {
    const testing::ProcessResult r = c->Wait();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& key : testing::Lines(r.out))
      numbers.push_back(key);
  }
  const std::vector<std::string> committed = Open()->Numbers();
  numbers.insert(numbers.end(), committed.begin(), committed.end());
  const int expected = kProcesses * (kRecords - kRecords / 3) + kRecords;
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, FirstKeys(expected));
}

// Makes every commit on the server wait for a synchronous standby that never comes, as after a
// failover that left the promoted server waiting for its lost standby; undone at the end.
class StandbyGone {
 public:
  explicit StandbyGone(std::string server) : server_(std::move(server)) { Set("'gone'"); }
  StandbyGone(const StandbyGone&) = delete;
  StandbyGone& operator=(const StandbyGone&) = delete;
  ~StandbyGone() { Set("DEFAULT"); }

 private:
  void Set(const std::string& value) {
    testing::ScratchPgDatabase::Run(server_,
                                    "ALTER SYSTEM SET synchronous_standby_names = " + value);
    testing::ScratchPgDatabase::Run(server_, "SELECT pg_reload_conf()");
    // New sessions read the setting once the server has reloaded it.
    const std::string now = "SELECT 1 / (current_setting('synchronous_standby_names') = '" +
                            std::string(value == "DEFAULT" ? "" : "gone") + "')::int";
    for (int i = 0; i < 200 && !testing::ScratchPgDatabase::Run(server_, now); ++i)
      usleep(10000);
  }
  std::string server_;
};

// A commit that the server cannot confirm in time (its standby is gone) hands no key out, in
// either lock mode and inside the application's transaction, whether this client cancels the
// wait or the server cuts it short with a warning and reports the commit done.
TEST_P(GapFreeTest, ACommitNotConfirmedInTimeHandsNoKeyOut) {
  if (Sqlite()) GTEST_SKIP() << "a matter of PostgreSQL standbys";
  std::set<std::string> handed;
  handed.insert(Ordinary(TLockMode::lmTransaction, 5)->Generator().str());
  {
    const StandbyGone gone(std::getenv("TGEN_PG_URI"));
    for (const TLockMode mode : {TLockMode::lmTransaction, TLockMode::lmRowFields}) {
      const auto start = std::chrono::steady_clock::now();
      try {
        handed.insert(Ordinary(mode, 1)->Generator().str());
        ADD_FAILURE() << "a key was handed out without a confirmed commit";
      } catch (const Exception& e) {
        // The row-field cycle counts a commit in doubt as a failed attempt, and gives up as on
        // a busy row.
        const std::string said = mode == TLockMode::lmTransaction ? "no key was handed out"
                                                                  : "stayed busy for 1 seconds";
        EXPECT_NE(e.Message().find(said), std::string::npos) << e.Message();
      }
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    }
    const std::unique_ptr<AppDb> db = Open();
    {
      const std::unique_ptr<TAppTransaction> tx = db->Begin(std::chrono::seconds(1));
      db->AddInvoice(Invoices()->GenerateIn(*tx).str());
      EXPECT_THROW(tx->Commit(), ECommitUnknown);
    }
    // Someone else cancels the wait (an operator, a pooler): the server warns, then reports
    // the commit done; inside the application's transaction too, where the warning still
    // reaches the application.
    const auto cancel_waits = [this] {
      PgApp admin(place_);
      for (int i = 0; i < 500; ++i) {
        usleep(20000);
        if (admin.Run("SELECT 1 / count(pg_cancel_backend(pid))::int FROM pg_stat_activity "
                      "WHERE wait_event = 'SyncRep'")) {
          return;
        }
      }
    };
    std::thread canceller(cancel_waits);
    try {
      // Tried again after the warning, the draw then waits for the standby until MaxWait.
      handed.insert(Ordinary(TLockMode::lmTransaction, 3)->Generator().str());
      ADD_FAILURE() << "a key was handed out without a confirmed commit";
    } catch (const ECommitUnknown& e) {
      EXPECT_NE(e.Message().find("no key was handed out"), std::string::npos) << e.Message();
    }
    canceller.join();
    PgApp app(place_);
    {
      const std::unique_ptr<TAppTransaction> tx = app.Begin(std::chrono::seconds(20));
      app.AddInvoice(Invoices()->GenerateIn(*tx).str());
      std::thread lent_canceller(cancel_waits);
      EXPECT_THROW(tx->Commit(), ECommitUnknown);
      lent_canceller.join();
    }
    EXPECT_NE(app.Notices().find("canceling wait"), std::string::npos) << app.Notices();
  }
  // Those commits were stored on this server: the sequence goes on past them, a gap and no
  // repeat.
  const std::string next = Ordinary(TLockMode::lmTransaction, 5)->Generator().str();
  EXPECT_EQ(handed.count(next), 0U);
  EXPECT_GT(next, "INV-0002");
}

INSTANTIATE_TEST_SUITE_P(Stores, GapFreeTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& param_info) { return std::string(param_info.param); });

}  // namespace
}  // namespace tgen
