// Keys per second drawn by several processes from one generator table, on one sequence and on
// separate sequences, in each lock mode, against baselines measured in the same run on the
// same store with the same durability: a counter row advanced by one UPDATE ... RETURNING in
// its own transaction per key, and (on PostgreSQL) nextval() on a sequence. With
// --kill-every-ms, each generator run is repeated while one random client is SIGKILLed that
// often and replaced. Every run checks that no key repeats. Run with --help for the options.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/generator.h"
#include "platform/base/notice.h"
#include "platform/store/session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage = R"(contention: keys per second of the generator against baselines

  contention [--store sqlite|postgresql] [--clients 1,2,4,8] [--seconds 2]
             [--lock fields,transaction] [--kill-every-ms MS] [--repeat N]
             [--mask '#######'] [--batch B] [--cache N] [--wait-round-us 100]
             [--csv FILE] [--dir DIR]

  --store          where the tables live; postgresql uses the server named by $TGEN_PG_URI
                   (scripts/with-postgres.sh starts one)
  --clients        numbers of client processes to measure, comma-separated
  --seconds        length of each run
  --lock           lock modes of the generator to measure: fields (lmRowFields),
                   transaction (lmTransaction)
  --kill-every-ms  also run each generator measurement while one random client is SIGKILLed
                   this often and replaced; the table gains the throughput under kills
  --repeat         rounds of every measurement, each round measuring every series once;
                   the table shows the medians of the keys per second and of each round's
                   ratios (default 1)
  --batch          keys the generator draws per lock cycle (GenerateBatch); 1 draws singly
  --cache          the generator's CacheSize: N keys reserved at a time, handed out singly
  --mask           the generator's mask; a digits-only counting part is stepped by the store
                   in lmTransaction, any other by the generator
  --wait-round-us  the generator's WaitRound
  --csv            also write the table as CSV to FILE (for scripts/contention-chart.sh)
  --dir            where the SQLite tables and key lists go (a fresh folder inside it)

Prints a Markdown table; a run in which any key repeats says NO in its last column and makes
the exit status 1.
)";

struct Options {
  std::string store = "sqlite";
  std::string pg_uri;      // the server, for --store postgresql
  int run = 0;             // numbers the tables of each run
  pid_t owner = getpid();  // names them apart from other benchmarks' on the same server
  std::vector<int> clients = {1, 2, 4, 8};
  double seconds = 2;
  std::vector<std::string> locks = {"fields", "transaction"};
  std::string lock;  // of the run under way
  int kill_every_ms = 0;
  int wait_round_us = 100;
  int repeat = 1;  // rounds of every measurement; the table shows medians
  std::string mask = "#######";
  int batch = 1;  // keys per lock cycle of the generator
  int cache = 0;  // its CacheSize
  std::string csv;
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

// Names the tables and sequences of the run under way.
std::string RunName(const Options& o) {
  return std::to_string(o.owner) + "_" + std::to_string(o.run);
}

std::string TableName(const Options& o) {
  return "GEN_" + RunName(o);
}

// Writes one key at once, so that a client killed the next moment has recorded every key it
// drew.
void Emit(int fd, const std::string& key) {
  const std::string line = key + '\n';
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::_Exit(4);
}

// One child's work: draw keys until the deadline, writing each to `fd`.
using Work = void (*)(int child, bool separate, Clock::time_point until, const Options& o, int fd);

void DrawWithGenerator(int child, bool separate, Clock::time_point until, const Options& o,
                       int fd) {
  auto sink = std::make_shared<CountingSink>();
  const tgen::ScopedNoticeSink guard(sink);
  tgen::TGenerator g;
  g.SetMask(o.mask);
  g.SetGeneratorType(separate ? child : 0);
  g.SetLockMode(o.lock == "fields" ? tgen::TLockMode::lmRowFields : tgen::TLockMode::lmTransaction);
  g.SetDataBaseName("Bench");
  g.SetTableName(TableName(o));
  g.SetWaitRound(std::chrono::microseconds(o.wait_round_us));
  g.SetCacheSize(o.cache);
  g.InitDB();
  if (g.Disabled()) std::_Exit(3);
  try {
    while (Clock::now() < until) {
      if (o.batch == 1) {
        Emit(fd, g.Generator().str());
      } else {
        for (const tgen::TmString& key : g.GenerateBatch(o.batch))
          Emit(fd, key.str());
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "child " << child << ": " << e.what() << '\n';
    std::_Exit(3);
  }
  if (sink->count > 0) std::cerr << "child " << child << ": " << sink->count << " busy notices\n";
}

void DrawWithCounterRow(int child, bool separate, Clock::time_point until, const Options& o,
                        int fd) {
  sqlite3* db = nullptr;
  if (sqlite3_open((o.dir / "COUNTER.DB").c_str(), &db) != SQLITE_OK) std::_Exit(3);
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
        Emit(fd, std::to_string(v));
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
void DrawWithStatement(const Options& o, Clock::time_point until, const std::string& sql, int fd) {
  PGconn* conn = PQconnectdb(o.pg_uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) std::_Exit(3);
  while (Clock::now() < until) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1) Emit(fd, PQgetvalue(r, 0, 0));
    PQclear(r);
  }
  PQfinish(conn);
}

void DrawWithNextval(int child, bool separate, Clock::time_point until, const Options& o, int fd) {
  DrawWithStatement(
      o, until,
      "SELECT nextval('seq_" + RunName(o) + "_" + std::to_string(separate ? child : 0) + "')", fd);
}

void DrawWithPgCounterRow(int child, bool separate, Clock::time_point until, const Options& o,
                          int fd) {
  DrawWithStatement(o, until,
                    "UPDATE counter_" + RunName(o) + " SET v = v + 1 WHERE id = " +
                        std::to_string(separate ? child : 0) + " RETURNING v",
                    fd);
}

void PreparePg(const Options& o, int clients) {
  tgen::CreateGeneratorTable("Bench", TableName(o));
  PGconn* conn = PQconnectdb(o.pg_uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) std::exit(3);
  const std::string run = RunName(o);
  PgExec(conn, "CREATE TABLE counter_" + run + " (id integer PRIMARY KEY, v bigint)");
  for (int i = 0; i < clients; ++i) {
    PgExec(conn, "INSERT INTO counter_" + run + " VALUES (" + std::to_string(i) + ", 0)");
    PgExec(conn, "CREATE SEQUENCE seq_" + run + "_" + std::to_string(i));
  }
  PQfinish(conn);
}

// Drops what a run made on the server.
void CleanUpPg(const Options& o, int clients) {
  PGconn* conn = PQconnectdb(o.pg_uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) std::exit(3);
  const std::string run = RunName(o);
  PgExec(conn, "DROP TABLE \"" + TableName(o) + "\", counter_" + run);
  for (int i = 0; i < clients; ++i)
    PgExec(conn, "DROP SEQUENCE seq_" + run + "_" + std::to_string(i));
  PQfinish(conn);
}

void Prepare(const Options& o, int clients) {
  fs::remove_all(o.dir);
  fs::create_directories(o.dir);
  if (o.store == "postgresql") {
    PreparePg(o, clients);
    return;
  }
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
  int kills = 0;
};

// Starts client `c` (its `generation`th incarnation) drawing into a file of its own.
pid_t StartChild(Work work, const Options& o, int c, int generation, bool separate,
                 Clock::time_point start, Clock::time_point until) {
  const fs::path file = o.dir / ("keys-" + std::to_string(c) + "-" + std::to_string(generation));
  std::cout.flush();  // the children must not print what the parent buffered
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::_Exit(4);
  while (Clock::now() < start) {
  }
  work(c, separate, until, o, fd);
  ::close(fd);
  std::_Exit(0);
}

Result Run(Work work, Options& o, int clients, bool separate, int kill_every_ms) {
  ++o.run;
  Prepare(o, clients);
  const auto start = Clock::now() + std::chrono::milliseconds(200);  // all start together
  const auto until =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  std::vector<pid_t> children;
  std::vector<int> generations(static_cast<std::size_t>(clients), 0);
  for (int c = 0; c < clients; ++c)
    children.push_back(StartChild(work, o, c, 0, separate, start, until));

  Result r;
  bool ok = true;
  if (kill_every_ms > 0) {
    std::mt19937 random(static_cast<unsigned>(o.run));
    const auto every = std::chrono::milliseconds(kill_every_ms);
    for (auto next = start + every; next < until; next += every) {
      std::this_thread::sleep_until(next);
      const auto c = static_cast<std::size_t>(random() % children.size());
      kill(children[c], SIGKILL);
      int status = 0;
      waitpid(children[c], &status, 0);
      ok = ok && (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
      children[c] =
          StartChild(work, o, static_cast<int>(c), ++generations[c], separate, Clock::now(), until);
      ++r.kills;
    }
  }
  for (const pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::cerr << "contention: a client failed\n";
    std::exit(1);
  }

  std::map<int, std::set<std::string>> seen;  // per sequence
  long long total = 0;
  for (int c = 0; c < clients; ++c) {
    for (int g = 0; g <= generations[static_cast<std::size_t>(c)]; ++g) {
      std::ifstream in(o.dir / ("keys-" + std::to_string(c) + "-" + std::to_string(g)));
      for (std::string key; std::getline(in, key); ++total) {
        if (!seen[separate ? c : 0].insert(key).second) r.distinct = false;
      }
    }
  }
  r.keys_per_second = static_cast<double>(total) / std::min(elapsed, o.seconds);
  if (o.store == "postgresql") CleanUpPg(o, clients);
  return r;
}

// The run of median keys per second; distinct only when every run was.
Result Median(std::vector<Result> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Result& a, const Result& b) { return a.keys_per_second < b.keys_per_second; });
  Result median = runs[runs.size() / 2];
  for (const Result& r : runs)
    median.distinct = median.distinct && r.distinct;
  return median;
}

// The median of the ratios a/b of runs measured in the same round: the machine's slow and fast
// spells, which a round's runs share, cancel out of each ratio.
double MedianRatio(const std::vector<Result>& a, const std::vector<Result>& b) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    ratios.push_back(a[i].keys_per_second / b[i].keys_per_second);
  std::sort(ratios.begin(), ratios.end());
  return ratios.empty() ? 0 : ratios[ratios.size() / 2];
}

template <typename T>
std::vector<T> ParseList(const std::string& text, T (*convert)(const std::string&)) {
  std::vector<T> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    values.push_back(convert(item));
  return values;
}

// Parses the command line; exits with the usage on a mistake.
Options ParseOptions(int argc, char** argv) {
  Options o;
  const auto usage = [](int code) {
    (code == 0 ? std::cout : std::cerr) << kUsage;
    std::exit(code);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") usage(0);
    if (i + 1 >= argc) usage(2);
    const std::string value = argv[++i];
    try {
      if (flag == "--store") {
        o.store = value;
      } else if (flag == "--clients") {
        o.clients = ParseList<int>(value, [](const std::string& s) { return std::stoi(s); });
      } else if (flag == "--seconds") {
        o.seconds = std::stod(value);
      } else if (flag == "--lock") {
        o.locks = ParseList<std::string>(value, [](const std::string& s) { return s; });
      } else if (flag == "--kill-every-ms") {
        o.kill_every_ms = std::stoi(value);
      } else if (flag == "--cache") {
        o.cache = std::stoi(value);
      } else if (flag == "--batch") {
        o.batch = std::stoi(value);
      } else if (flag == "--mask") {
        o.mask = value;
      } else if (flag == "--repeat") {
        o.repeat = std::stoi(value);
      } else if (flag == "--wait-round-us") {
        o.wait_round_us = std::stoi(value);
      } else if (flag == "--csv") {
        o.csv = value;
      } else if (flag == "--dir") {
        o.dir = fs::path(value) / ("tgen-contention-" + std::to_string(getpid()));
      } else {
        usage(2);
      }
    } catch (const std::exception&) {
      usage(2);
    }
  }
  const bool locks_known = std::all_of(o.locks.begin(), o.locks.end(), [](const std::string& l) {
    return l == "fields" || l == "transaction";
  });
  if ((o.store != "sqlite" && o.store != "postgresql") || !locks_known || o.clients.empty() ||
      o.seconds <= 0 || o.kill_every_ms < 0 || o.repeat < 1 || o.batch < 1 || o.cache < 0) {
    usage(2);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = ParseOptions(argc, argv);
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

  std::ofstream csv;
  if (!o.csv.empty()) {
    csv.open(o.csv);
    csv << "store,sequences,clients,lock,keys_per_s,counter_row_keys_per_s,nextval_keys_per_s,"
           "killed_keys_per_s,kills,distinct\n";
  }
  std::cout
      << "| store | sequences | clients | lock | keys/s | counter row keys/s | nextval keys/s "
         "| / counter row | / nextval | under kills keys/s | under kills / without | "
         "kills | keys distinct |\n"
         "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
  bool all_distinct = true;
  try {
    for (const bool separate : {false, true}) {
      for (const int clients : o.clients) {
        std::cerr << "contention: " << o.store << ", " << (separate ? "separate" : "one")
                  << " sequence" << (separate ? "s" : "") << ", " << clients << " client"
                  << (clients > 1 ? "s" : "") << "\n";
        // Each round measures every series once, so that a slow spell of the machine falls on
        // all of them; the table shows the medians, and each ratio is the median of the
        // ratios within a round.
        std::vector<Result> counters;
        std::vector<Result> nexts;
        std::map<std::string, std::vector<Result>> gens;
        std::map<std::string, std::vector<Result>> killeds;
        for (int round = 0; round < o.repeat; ++round) {
          const auto baselines = [&] {
            counters.push_back(
                Run(pg ? DrawWithPgCounterRow : DrawWithCounterRow, o, clients, separate, 0));
            nexts.push_back(pg ? Run(DrawWithNextval, o, clients, separate, 0) : Result{});
          };
          // Every other round measures the generator first, so that what one run leaves
          // behind (the disk's write-back, the files it deletes) falls on either side alike.
          if (round % 2 == 0) baselines();
          for (const std::string& lock : o.locks) {
            o.lock = lock;
            gens[lock].push_back(Run(DrawWithGenerator, o, clients, separate, 0));
            killeds[lock].push_back(
                o.kill_every_ms > 0 ? Run(DrawWithGenerator, o, clients, separate, o.kill_every_ms)
                                    : Result{});
          }
          if (round % 2 == 1) baselines();
        }
        const Result counter = Median(counters);
        const Result next = Median(nexts);
        for (const std::string& lock : o.locks) {
          const Result gen = Median(gens[lock]);
          const Result killed = Median(killeds[lock]);
          const bool distinct =
              gen.distinct && killed.distinct && counter.distinct && next.distinct;
          all_distinct = all_distinct && distinct;
          const auto cell = [](bool shown, double v, int precision) {
            if (!shown) return std::string("-");
            std::ostringstream text;
            text.setf(std::ios::fixed);
            text.precision(precision);
            text << v;
            return text.str();
          };
          const bool kills = o.kill_every_ms > 0;
          std::cout << "| " << o.store << " | " << (separate ? "separate" : "one") << " | "
                    << clients << " | " << lock << " | " << cell(true, gen.keys_per_second, 0)
                    << " | " << cell(true, counter.keys_per_second, 0) << " | "
                    << cell(pg, next.keys_per_second, 0) << " | "
                    << cell(true, MedianRatio(gens[lock], counters), 2) << " | "
                    << cell(pg, MedianRatio(gens[lock], nexts), 2) << " | "
                    << cell(kills, killed.keys_per_second, 0) << " | "
                    << cell(kills, MedianRatio(killeds[lock], gens[lock]), 2) << " | "
                    << (kills ? std::to_string(killed.kills) : "-") << " | "
                    << (distinct ? "yes" : "NO") << " |\n"
                    << std::flush;
          if (csv.is_open()) {
            csv << o.store << ',' << (separate ? "separate" : "one") << ',' << clients << ','
                << lock << ',' << gen.keys_per_second << ',' << counter.keys_per_second << ','
                << (pg ? next.keys_per_second : 0) << ',' << (kills ? killed.keys_per_second : 0)
                << ',' << killed.kills << ',' << (distinct ? "yes" : "no") << '\n'
                << std::flush;
          }
        }
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "contention: " << e.what() << '\n';
    return 1;
  }
  fs::remove_all(o.dir);
  fs::remove(aliases);
  return all_distinct ? 0 : 1;
}
