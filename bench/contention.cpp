// Keys per second drawn by several processes from one generator table, on one sequence and on
// separate sequences, against baselines measured in the same run on the same store with the
// same durability: a counter row advanced by one UPDATE ... RETURNING in its own transaction
// per key, and (on PostgreSQL) nextval() on a sequence. Every run also checks that no key
// repeats.
//
//   contention [--store sqlite|postgresql] [--clients 1,2,4,8] [--seconds 2]
//              [--wait-round-us 100] [--dir DIR]
//
// PostgreSQL runs use the server named by $TGEN_PG_URI (scripts/with-postgres.sh starts one).
// Prints a table in Markdown.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/generator.h"
#include "platform/base/notice.h"
#include "platform/store/session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string store = "sqlite";
  std::string pg_uri;  // the server, for --store postgresql
  int run = 0;         // numbers the tables of each run
  std::vector<int> clients = {1, 2, 4, 8};
  double seconds = 2;
  std::vector<int> wait_rounds_us = {100};
  fs::path dir = fs::temp_directory_path() / ("tgen-contention-" + std::to_string(getpid()));
};

// Counts the busy notices of a child instead of printing them.
class CountingSink final : public tgen::NoticeSink {
 public:
  int MessageBox(std::string_view, std::string_view, unsigned) override {
    ++count;
    return tgen::IDOK;
  }
  void ShowMessage(std::string_view text) override { std::cerr << text << '\n'; }
  int count = 0;
};

std::string TableName(const Options& o) {
  return "GEN_" + std::to_string(o.run);
}

// One child's work: draw keys until the deadline, writing them to `out`, one a line.
using Work = void (*)(int child, bool separate, Clock::time_point until, const Options& o,
                      std::ostream& out);

void DrawWithGenerator(int child, bool separate, Clock::time_point until, const Options& o,
                       std::ostream& out) {
  auto sink = std::make_shared<CountingSink>();
  const tgen::ScopedNoticeSink guard(sink);
  tgen::TGenerator g;
  g.SetMask("#######");
  g.SetGeneratorType(separate ? child : 0);
  g.SetDataBaseName("Bench");
  g.SetTableName(TableName(o));
  g.SetWaitRound(std::chrono::microseconds(o.wait_rounds_us.front()));
  g.InitDB();
  if (g.Disabled()) std::exit(3);
  while (Clock::now() < until)
    out << g.Generator() << '\n';
  if (sink->count > 0) std::cerr << "child " << child << ": " << sink->count << " busy notices\n";
}

void DrawWithCounterRow(int child, bool separate, Clock::time_point until, const Options& o,
                        std::ostream& out) {
  sqlite3* db = nullptr;
  if (sqlite3_open((o.dir / "COUNTER.DB").c_str(), &db) != SQLITE_OK) std::exit(3);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt* step = nullptr;
  sqlite3_prepare_v2(db, "UPDATE counter SET v = v + 1 WHERE id = ?1 RETURNING v", -1, &step,
                     nullptr);
  sqlite3_bind_int(step, 1, separate ? child : 0);
  while (Clock::now() < until) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) continue;
    if (sqlite3_step(step) == SQLITE_ROW) {
      const long long v = sqlite3_column_int64(step, 0);
      sqlite3_reset(step);
      if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        out << v << '\n';
        continue;
      }
    }
    sqlite3_reset(step);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(step);
  sqlite3_close(db);
}

// Runs SQL on the server; the bench stops when it fails.
void PgExec(PGconn* conn, const std::string& sql) {
  PGresult* r = PQexec(conn, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok) std::cerr << "bench: " << PQerrorMessage(conn);
  PQclear(r);
  if (!ok) std::exit(3);
}

// Draws with one statement per key in its own transaction (autocommit): `sql` returns the key.
void DrawWithStatement(const Options& o, Clock::time_point until, const std::string& sql,
                       std::ostream& out) {
  PGconn* conn = PQconnectdb(o.pg_uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) std::exit(3);
  while (Clock::now() < until) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
      out << PQgetvalue(r, 0, 0) << '\n';
    PQclear(r);
  }
  PQfinish(conn);
}

void DrawWithNextval(int child, bool separate, Clock::time_point until, const Options& o,
                     std::ostream& out) {
  DrawWithStatement(o, until,
                    "SELECT nextval('seq_" + std::to_string(o.run) + "_" +
                        std::to_string(separate ? child : 0) + "')",
                    out);
}

void DrawWithPgCounterRow(int child, bool separate, Clock::time_point until, const Options& o,
                          std::ostream& out) {
  DrawWithStatement(o, until,
                    "UPDATE counter_" + std::to_string(o.run) + " SET v = v + 1 WHERE id = " +
                        std::to_string(separate ? child : 0) + " RETURNING v",
                    out);
}

void PreparePg(const Options& o, int clients) {
  tgen::CreateGeneratorTable("Bench", TableName(o));
  PGconn* conn = PQconnectdb(o.pg_uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) std::exit(3);
  const std::string run = std::to_string(o.run);
  PgExec(conn, "CREATE TABLE counter_" + run + " (id integer PRIMARY KEY, v bigint)");
  for (int i = 0; i < clients; ++i) {
    PgExec(conn, "INSERT INTO counter_" + run + " VALUES (" + std::to_string(i) + ", 0)");
    PgExec(conn, "CREATE SEQUENCE seq_" + run + "_" + std::to_string(i));
  }
  PQfinish(conn);
}

void Prepare(const Options& o, int clients) {
  if (o.store == "postgresql") {
    PreparePg(o, clients);
    fs::create_directories(o.dir);
    return;
  }
  fs::remove_all(o.dir);
  fs::create_directories(o.dir);
  tgen::CreateGeneratorTable("Bench", TableName(o));
  sqlite3* db = nullptr;
  sqlite3_open((o.dir / "COUNTER.DB").c_str(), &db);  // NOLINT: checked by the children
  std::string sql =
      "PRAGMA journal_mode = WAL; CREATE TABLE counter (id INTEGER PRIMARY KEY, v "
      "INTEGER);";
  for (int i = 0; i < clients; ++i)
    sql += "INSERT INTO counter VALUES (" + std::to_string(i) + ", 0);";
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

struct Result {
  double keys_per_second = 0;
  bool distinct = true;
};

Result Run(Work work, Options& o, int clients, bool separate) {
  ++o.run;
  Prepare(o, clients);
  const auto start = Clock::now() + std::chrono::milliseconds(200);  // all start together
  const auto until =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  std::cout.flush();  // the children must not print what the parent buffered
  std::vector<pid_t> children;
  for (int c = 0; c < clients; ++c) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::ofstream out(o.dir / ("keys-" + std::to_string(c)));
      while (Clock::now() < start) {
      }
      work(c, separate, until, o, out);
      out.flush();
      std::_Exit(out ? 0 : 4);
    }
    children.push_back(pid);
  }
  bool ok = true;
  for (const pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::cerr << "a child failed\n";
    std::exit(1);
  }

  Result r;
  std::map<int, std::set<std::string>> seen;  // per sequence
  long long total = 0;
  for (int c = 0; c < clients; ++c) {
    std::ifstream in(o.dir / ("keys-" + std::to_string(c)));
    for (std::string key; std::getline(in, key); ++total) {
      if (!seen[separate ? c : 0].insert(key).second) r.distinct = false;
    }
  }
  r.keys_per_second = static_cast<double>(total) / std::min(elapsed, o.seconds);
  return r;
}

std::vector<int> ParseList(const std::string& text) {
  std::vector<int> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    values.push_back(std::stoi(item));
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--store") o.store = argv[i + 1];
    if (flag == "--clients") o.clients = ParseList(argv[i + 1]);
    if (flag == "--seconds") o.seconds = std::stod(argv[i + 1]);
    if (flag == "--wait-round-us") o.wait_rounds_us = ParseList(argv[i + 1]);
    if (flag == "--dir")
      o.dir = fs::path(argv[i + 1]) / ("tgen-contention-" + std::to_string(getpid()));
  }
  const bool pg = o.store == "postgresql";
  if (pg) {
    const char* uri = std::getenv("TGEN_PG_URI");
    if (uri == nullptr) {
      std::cerr
          << "contention: --store postgresql needs $TGEN_PG_URI (see scripts/with-postgres.sh)\n";
      return 77;  // "skipped" to CTest
    }
    o.pg_uri = uri;
  }
  const fs::path aliases = o.dir.string() + ".aliases";
  std::ofstream(aliases) << "Bench = " << (pg ? o.pg_uri : "sqlite:" + o.dir.string()) << "\n";
  setenv("TGEN_ALIASES", aliases.c_str(), 1);

  std::cout
      << "| store | sequences | clients | wait round | generator keys/s | counter row keys/s | "
         "nextval keys/s | generator / counter row | generator / nextval | keys distinct |\n"
         "|---|---|---|---|---|---|---|---|---|---|\n";
  const std::vector<int> rounds = o.wait_rounds_us;
  try {
    for (const bool separate : {false, true}) {
      for (const int clients : o.clients) {
        const Result counter =
            Run(pg ? DrawWithPgCounterRow : DrawWithCounterRow, o, clients, separate);
        const Result next = pg ? Run(DrawWithNextval, o, clients, separate) : Result{};
        for (const int round : rounds) {
          o.wait_rounds_us = {round};
          const Result gen = Run(DrawWithGenerator, o, clients, separate);
          std::printf(
              "| %s | %s | %d | %d us | %.0f | %.0f | %s | %.2f | %s | %s |\n", o.store.c_str(),
              separate ? "separate" : "one", clients, round, gen.keys_per_second,
              counter.keys_per_second,
              pg ? std::to_string(static_cast<long>(next.keys_per_second)).c_str() : "-",
              gen.keys_per_second / counter.keys_per_second,
              pg ? std::to_string(gen.keys_per_second / next.keys_per_second).substr(0, 4).c_str()
                 : "-",
              gen.distinct && counter.distinct && next.distinct ? "yes" : "NO");
          std::fflush(stdout);
        }
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "contention: " << e.what() << '\n';
    return 1;
  }
  fs::remove_all(o.dir);
  fs::remove(aliases);
  return 0;
}
