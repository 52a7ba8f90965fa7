// Committed records per second when each record's number is drawn inside the transaction that
// inserts it (TGenerator::GenerateIn), against the usual hand-written way: a counter row
// advanced by UPDATE ... RETURNING in that same transaction. Both measured in the same run, on
// the same store, with the same number of client processes; a ratio, not a timed test.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/generator.h"
#include "platform/store/pgstore.h"
#include "platform/store/sqlitestore.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string store = "sqlite";
  std::vector<int> clients = {1, 4};
  double seconds = 2;
  int repeat = 3;
  fs::path dir = fs::temp_directory_path();
  std::string pg_uri;
};

// One application connection: runs SQL, and begins the transaction a generator draws in.
class App {
 public:
  explicit App(const Options& o) {
    if (o.store == "sqlite") {
      sqlite3_open((o.dir / "app.db").c_str(), &db_);
      sqlite3_busy_timeout(db_, 10000);
      Run("PRAGMA synchronous = FULL");
    } else {
      pg_ = PQconnectdb(o.pg_uri.c_str());
      PQsetNoticeProcessor(
          pg_, [](void*, const char*) {}, nullptr);
    }
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  ~App() {
    if (db_ != nullptr) sqlite3_close(db_);
    if (pg_ != nullptr) PQfinish(pg_);
  }
  std::unique_ptr<tgen::TAppTransaction> Begin() {
    if (db_ != nullptr) return std::make_unique<tgen::TSqliteTransaction>(db_);
    return std::make_unique<tgen::TPgTransaction>(pg_);
  }
  // Runs SQL; the first column of its first row, or "" (and a message) when it failed.
  std::string Run(const std::string& sql) {
    std::string first;
    if (db_ != nullptr) {
      char* error = nullptr;
      const int rc = sqlite3_exec(
          db_, sql.c_str(),
          [](void* out, int, char** values, char**) {
            if (values[0] != nullptr) *static_cast<std::string*>(out) = values[0];
            return 0;
          },
          &first, &error);
      if (rc != SQLITE_OK) std::cerr << "gapfree: " << (error ? error : "?") << '\n';
      sqlite3_free(error);
      return first;
    }
    PGresult* r = PQexec(pg_, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0) first = PQgetvalue(r, 0, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK)
      std::cerr << "gapfree: " << PQerrorMessage(pg_);
    PQclear(r);
    return first;
  }

 private:
  sqlite3* db_ = nullptr;
  PGconn* pg_ = nullptr;
};

// One child's work until the deadline: records inserted with numbers from the generator, or
// from the counter row. Returns how many it committed.
int Insert(const Options& o, bool generator, Clock::time_point until) {
  App app(o);
  tgen::TGenerator g;
  g.SetMask("INV-########");
  g.SetStartValue("00000001");
  g.SetTableName("GENTBL");
  int committed = 0;
  const bool sqlite = o.store == "sqlite";
  while (Clock::now() < until) {
    if (generator) {
      const std::unique_ptr<tgen::TAppTransaction> tx = app.Begin();
      app.Run("INSERT INTO invoice VALUES ('" + g.GenerateIn(*tx).str() + "')");
      tx->Commit();
    } else {
      app.Run(sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
      const std::string n = app.Run("UPDATE counter SET v = v + 1 RETURNING v");
      app.Run("INSERT INTO invoice VALUES ('C-" + n + "')");
      app.Run("COMMIT");
    }
    ++committed;
  }
  return committed;
}

// Records per second of `clients` processes, and whether the table holds exactly the records
// they said they committed.
std::pair<double, bool> Measure(const Options& o, bool generator, int clients) {
  {
    App app(o);
    if (o.store == "sqlite") app.Run("PRAGMA journal_mode = WAL");
    app.Run("DROP TABLE IF EXISTS invoice");
    app.Run("DROP TABLE IF EXISTS counter");
    app.Run("DROP TABLE IF EXISTS \"GENTBL\"");
    app.Run("CREATE TABLE invoice (number VARCHAR(20) PRIMARY KEY)");
    app.Run("CREATE TABLE counter (id INTEGER PRIMARY KEY, v BIGINT)");
    app.Run("INSERT INTO counter VALUES (1, 0)");
    const std::unique_ptr<tgen::TAppTransaction> tx = app.Begin();
    tgen::CreateGeneratorTable(*tx, "GENTBL");
    tx->Commit();
  }
  const auto start = Clock::now() + std::chrono::milliseconds(200);
  const auto until =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  std::vector<std::pair<pid_t, int>> children;
  for (int c = 0; c < clients; ++c) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(3);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::this_thread::sleep_until(start);
      int n = 0;
      try {
        n = Insert(o, generator, until);
      } catch (const std::exception& e) {
        std::cerr << "gapfree: client " << c << ": " << e.what() << '\n';
        n = -1;
      }
      if (write(fds[1], &n, sizeof n) != sizeof n) std::_Exit(4);
      std::_Exit(0);
    }
    close(fds[1]);
    children.emplace_back(pid, fds[0]);
  }
  long total = 0;
  bool ok = true;
  for (const auto& [pid, fd] : children) {
    int n = -1;
    ok = read(fd, &n, sizeof n) == sizeof n && n >= 0 && ok;
    total += std::max(n, 0);
    close(fd);
    waitpid(pid, nullptr, 0);
  }
  App app(o);
  ok = ok && std::stol(app.Run("SELECT count(*) FROM invoice")) == total;
  if (generator) {  // gap-free: the numbers are exactly the first `total` of the sequence
    char last[32];
    std::snprintf(last, sizeof last, "INV-%08ld", total);
    ok = ok && app.Run("SELECT max(number) FROM invoice") == last;
  }
  return {static_cast<double>(total) / o.seconds, ok};
}

std::vector<int> Numbers(const std::string& list) {
  std::vector<int> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');)
    out.push_back(std::stoi(item));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "gapfree: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--store") {
      o.store = value();
    } else if (arg == "--clients") {
      o.clients = Numbers(value());
    } else if (arg == "--seconds") {
      o.seconds = std::stod(value());
    } else if (arg == "--repeat") {
      o.repeat = std::stoi(value());
    } else if (arg == "--dir") {
      o.dir = value();
    } else {
      std::cout << "gapfree: records per second with numbers drawn inside their transaction\n\n"
                   "  gapfree [--store sqlite|postgresql] [--clients 1,4] [--seconds 2]\n"
                   "          [--repeat 3] [--dir DIR]\n\n"
                   "Each client process inserts invoice records, each numbered inside the\n"
                   "transaction that inserts it: by GenerateIn, or by a counter row's UPDATE ...\n"
                   "RETURNING. postgresql uses the server named by $TGEN_PG_URI. Prints a\n"
                   "Markdown table of medians; exit status 1 when a run lost or repeated a\n"
                   "record or left a gap.\n";
      return arg == "--help" ? 0 : 2;
    }
  }
  if (o.store == "postgresql") {
    const char* uri = std::getenv("TGEN_PG_URI");
    if (uri == nullptr) {
      std::cerr << "gapfree: no PostgreSQL server ($TGEN_PG_URI; scripts/with-postgres.sh)\n";
      return 77;
    }
    o.pg_uri = uri;
  }
  o.dir /= "tgen-gapfree-" + std::to_string(getpid());
  fs::create_directories(o.dir);
  bool all_ok = true;
  std::cout
      << "| store | clients | GenerateIn records/s | counter row records/s | ratio | exact |\n"
         "|---|---|---|---|---|---|\n";
  for (const int clients : o.clients) {
    std::vector<double> gen;
    std::vector<double> counter;
    bool ok = true;
    for (int r = 0; r < o.repeat; ++r) {
      const auto [g, g_ok] = Measure(o, true, clients);
      const auto [c, c_ok] = Measure(o, false, clients);
      gen.push_back(g);
      counter.push_back(c);
      ok = ok && g_ok && c_ok;
    }
    std::sort(gen.begin(), gen.end());
    std::sort(counter.begin(), counter.end());
    const double g = gen[gen.size() / 2];
    const double c = counter[counter.size() / 2];
    std::printf("| %s | %d | %.0f | %.0f | %.2f | %s |\n", o.store.c_str(), clients, g, c, g / c,
                ok ? "yes" : "NO");
    std::fflush(stdout);
    all_ok = all_ok && ok;
  }
  fs::remove_all(o.dir);
  return all_ok ? 0 : 1;
}
