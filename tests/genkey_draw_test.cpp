// Drawing keys from one SQLite generator table with several genkey processes at once.
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/process_testing.h"
#include "platform/store/pgscratch_testing.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

namespace fs = std::filesystem;
using testing::Lines;
using testing::Process;
using testing::ProcessResult;
using testing::ReadFile;

// A folder for aliases and data, and the alias Shop on a fresh store: a SQLite folder, or a
// database of its own on the PostgreSQL server that scripts/with-postgres.sh started.
class DrawFixture : public ::testing::Test {
 protected:
  void SetUpStore(const std::string& backend) {
    fs::create_directories(dir / "shop");
    if (backend == "sqlite") {
      dir.Aliases("Shop = sqlite:shop\n");
      return;
    }
    if (std::getenv("TGEN_PG_URI") == nullptr)
      GTEST_SKIP() << "no PostgreSQL server (run under scripts/with-postgres.sh)";
    database = std::make_unique<testing::ScratchPgDatabase>("draw");
    pg_uri = database->Uri();
    dir.Aliases("Shop = " + pg_uri + "\n");
  }

  static std::vector<std::string> Args(std::vector<std::string> args) {
    args.insert(args.begin(), GENKEY_PATH);
    return args;
  }
  static ProcessResult Genkey(std::vector<std::string> args) {
    return testing::RunProcess(Args(std::move(args)));
  }
  // Runs SQL on a table file directly, as a damaged or foreign table would be made.
  static void Sql(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
  }
  // Runs SQL on the database of the generator table GENTBL.DB in either store.
  void RunSql(const std::string& sql) {
    if (pg_uri.empty()) {
      Sql(dir / "shop" / "GENTBL.DB", sql);
    } else {
      ASSERT_TRUE(testing::ScratchPgDatabase::Run(pg_uri, sql));
    }
  }

  testing::ScratchFolder dir{"draw"};
  std::unique_ptr<testing::ScratchPgDatabase> database;
  std::string pg_uri;  // of the database on the PostgreSQL server
};

class GenkeySqliteTest : public DrawFixture {
 protected:
  void SetUp() override { SetUpStore("sqlite"); }
};

// A primary and its synchronous standby (scripts/with-postgres.sh --pair).
class GenkeyPairTest : public DrawFixture {
 protected:
  void SetUp() override {
    if (std::getenv("TGEN_PG_PROMOTE") == nullptr) GTEST_SKIP() << "needs with-postgres.sh --pair";
    SetUpStore("postgresql");
  }
};

class GenkeyDrawTest : public DrawFixture, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override { SetUpStore(GetParam()); }
};

// genkey processes drawing at once, and every key they printed.
class Drawers {
 public:
  void Start(const std::vector<std::string>& genkey_args) {
    std::vector<std::string> args = genkey_args;
    args.insert(args.begin(), GENKEY_PATH);
    all_.push_back(std::make_unique<Process>(args));
  }
  // Until each has printed a key (a loaded machine may take a while to start them); false
  // when one never did.
  bool AllDrawing() {
    for (auto& p : all_) {
      const std::optional<std::string> key = p->ReadLine(std::chrono::seconds(60));
      if (!key) return false;
      keys.insert(*key);
    }
    return true;
  }
  // Until drawer `i` prints a key for which `enough` holds; false when it stopped printing.
  bool DrawUntil(std::size_t i, const std::function<bool(const std::string&)>& enough) {
    for (;;) {
      const std::optional<std::string> key = all_.at(i)->ReadLine(std::chrono::seconds(60));
      if (!key) return false;
      keys.insert(*key);
      if (enough(*key)) return true;
    }
  }
  // Ends them all (with `signal`, or at their own end), keeping what they printed; their
  // exit statuses, and standard errors.
  std::vector<ProcessResult> End(int signal = 0) {
    std::vector<ProcessResult> ends;
    for (auto& p : all_) {
      if (signal != 0) p->Kill(signal);
      ends.push_back(p->Wait());
      for (const std::string& k : Lines(ends.back().out))
        keys.insert(k);
    }
    all_.clear();
    return ends;
  }
  [[nodiscard]] std::size_t Size() const { return all_.size(); }
  [[nodiscard]] bool Distinct() const {
    return std::set<std::string>(keys.begin(), keys.end()).size() == keys.size();
  }

  std::multiset<std::string> keys;

 private:
  std::vector<std::unique_ptr<Process>> all_;
};

// genkey hands out no key twice unless asked to: what it refuses, and where it stops.
TEST_F(GenkeySqliteTest, RefusesWhatWouldHandOutAKeyTwice) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
    std::string err;  // a part of standard error
  };
  const std::vector<Case> cases = {
      {{"--mask", "FIXED-", "-n", "3"}, 1, "", "nothing to count"},
      {{"--mask", std::string(101, '#')}, 1, "", "101 characters long"},
      {{"--mask", "INV-@@-##", "--proc", "26"}, 0, "INV-26-00\n", ""},
      // Past the end: stop, naming the last key, unless a restart is asked for.
      {{"--mask", "S#", "--start", "7", "-n", "4"}, 1, "S7\nS8\nS9\n", "ended at S9"},
      {{"--mask", "R#", "--start", "7", "-n", "4", "--on-overflow", "restart"},
       0,
       "R7\nR8\nR9\nR7\n",
       ""},
      // A batch longer than the sequence.
      {{"--mask", "K#", "--batch", "15", "-n", "15", "--on-overflow", "restart"},
       1,
       "",
       "15 keys drawn at once would hand out K0 twice"},
  };
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  for (const Case& c : cases) {
    std::vector<std::string> args = {"next", "--alias", "Shop"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Genkey(args);
    SCOPED_TRACE(c.args.at(1));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

// Ctrl-C or a TERM between draws: the draw under way is stored and printed, the row is left
// free, and the status says which signal stopped it.
TEST_F(GenkeySqliteTest, AnInterruptedRunPrintsWhatItStoredAndFreesTheRow) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  for (const int signal : {SIGINT, SIGTERM}) {
    Process run(Args(
        {"next", "--alias", "Shop", "--lock", "fields", "--mask", "Q######", "-n", "1000000"}));
    const std::optional<std::string> first = run.ReadLine();
    ASSERT_TRUE(first);
    run.Kill(signal);
    const ProcessResult r = run.Wait();
    EXPECT_EQ(r.exit_code, 128 + signal);
    std::vector<std::string> printed = Lines(r.out);
    printed.insert(printed.begin(), *first);
    const ProcessResult row =
        Genkey({"table", "show", "--alias", "Shop", "--type", "0", "--prefix", "Q"});
    EXPECT_NE(row.out.find("State = 0\n"), std::string::npos) << row.out;
    EXPECT_NE(row.out.find("Suffix = " + printed.back().substr(1) + "\n"), std::string::npos)
        << row.out << " after " << printed.back();
  }
}

// Clients drawing in transactions while `disrupt` runs (a command of scripts/with-postgres.sh,
// or a client of another kind) find it a pause: each draws on afterwards, past a key drawn
// after it, and no key repeats.
void DrawThroughADisruption(int clients, const std::string& mask,
                            const std::function<void(Drawers&)>& disrupt) {
  ASSERT_EQ(testing::RunProcess({GENKEY_PATH, "table", "create", "--alias", "Shop"}).exit_code, 0);
  Drawers drawers;
  for (int i = 0; i < clients; ++i)
    drawers.Start({"next", "--alias", "Shop", "--mask", mask, "-n", "1000000"});
  ASSERT_TRUE(drawers.AllDrawing());
  disrupt(drawers);
  const ProcessResult marker =
      testing::RunProcess({GENKEY_PATH, "next", "--alias", "Shop", "--mask", mask});
  ASSERT_EQ(marker.exit_code, 0) << marker.err;
  const std::string after = Lines(marker.out).at(0);
  drawers.keys.insert(after);
  for (std::size_t i = 0; i < drawers.Size(); ++i) {
    EXPECT_TRUE(drawers.DrawUntil(i, [&](const std::string& k) { return k > after; }))
        << "a client stopped drawing";
  }
  for (const ProcessResult& r : drawers.End(SIGTERM))
    EXPECT_EQ(r.exit_code, 128 + SIGTERM) << r.err;
  EXPECT_TRUE(drawers.Distinct()) << "a key was handed out twice";
}

// A command of scripts/with-postgres.sh, as what disrupts the clients.
std::function<void(Drawers&)> Command(const std::string& command) {
  return [command](Drawers&) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1 </dev/null").c_str()), 0);  // NOLINT
  };
}

// A failover done by hand: the primary stopped at once, the standby promoted and told to wait
// for no standby.
TEST_F(GenkeyPairTest, ClientsDrawOnThroughAPromotionByHand) {
  DrawThroughADisruption(4, "P#######", Command(std::getenv("TGEN_PG_PROMOTE")));
}

// table set: the next draw hands out the suffix given, never behind what was handed out unless
// asked, never over a held row, and no client's undo steps back over it.
TEST_P(GenkeyDrawTest, SetTheNextNumber) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  const auto set = [&](const std::string& next, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"table", "set",    "--alias",  "Shop",   "--prefix",
                                     "INV-",  "--mask", "INV-####", "--next", next};
    args.insert(args.end(), more.begin(), more.end());
    return Genkey(args);
  };
  const auto next = [&] { return Genkey({"next", "--alias", "Shop", "--mask", "INV-####"}).out; };
  Process shell(Args({"shell", "--alias", "Shop", "--mask", "INV-####"}));
  shell.Send("next\n");
  EXPECT_EQ(shell.ReadLine().value_or(""), "INV-0000");
  EXPECT_EQ(set("0050").exit_code, 0);  // the row is made or moved on
  shell.Send("undo\n");
  EXPECT_EQ(shell.ReadLine().value_or(""), "INV-0000");  // refused: the row moved on
  EXPECT_EQ(next(), "INV-0050\n");
  ProcessResult r = set("0010");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("would move back"), std::string::npos) << r.err;
  EXPECT_EQ(set("0010", {"--backwards"}).exit_code, 0);
  EXPECT_EQ(next(), "INV-0010\n");
  RunSql("UPDATE \"GENTBL.DB\" SET \"State\" = 1");
  r = set("0020");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("held by"), std::string::npos) << r.err;
  EXPECT_EQ(set("0000").exit_code, 1);  // nothing comes before the first value
  // A sequence without a row gets one.
  EXPECT_EQ(Genkey({"table", "set", "--alias", "Shop", "--prefix", "NEW-", "--mask", "NEW-##",
                    "--next", "07"})
                .exit_code,
            0);
  EXPECT_EQ(Genkey({"next", "--alias", "Shop", "--mask", "NEW-##"}).out, "NEW-07\n");
  EXPECT_EQ(shell.Wait().err, "genkey: Can NOT undo!\n");
}

// Clients drawing at once on either side of the turn of the year, by the documents' dates:
// each year is a sequence of its own, from its start, every key once.
TEST_P(GenkeyDrawTest, PeriodsByTheDocumentsDate) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  Drawers drawers;
  for (const char* date : {"2026-12-31", "2027-01-01", "2026-12-31", "2027-01-01"}) {
    drawers.Start({"next", "--alias", "Shop", "--mask", "P-@@@@-###", "--period", "YYYY", "--start",
                   "001", "--date", date, "-n", "10"});
  }
  for (const ProcessResult& r : drawers.End())
    EXPECT_EQ(r.exit_code, 0) << r.err;
  std::multiset<std::string> expected;
  for (const char* year : {"2026", "2027"}) {
    for (int i = 1; i <= 20; ++i) {
      std::ostringstream k;
      k << "P-" << year << '-' << std::setw(3) << std::setfill('0') << i;
      expected.insert(k.str());
    }
  }
  EXPECT_EQ(drawers.keys, expected);
  // The shell takes a date for the draws after it.
  Process shell(Args({"shell", "--alias", "Shop", "--mask", "P-@@@@-###", "--period", "YYYY",
                      "--date", "2026-06-30"}));
  shell.Send("next\ndate 2027-02-01\nnext\n");
  EXPECT_EQ(shell.ReadLine().value_or(""), "P-2026-021");
  EXPECT_EQ(shell.ReadLine().value_or(""), "P-2027-021");
}

TEST_P(GenkeyDrawTest, AHandMadeTableWithoutAUniqueKeyGetsOneRowPerSequence) {
  const std::string fields =
      "\"GenID\" REAL, \"Prefix\" VARCHAR(20), \"Suffix\" VARCHAR(20), \"Time\" VARCHAR(17), "
      "\"Try\" REAL, \"State\" REAL, \"Who\" VARCHAR(17)";
  // The server needs some key to tell rows apart: one that does not cover the sequence.
  RunSql("CREATE TABLE \"GENTBL.DB\" (" +
         std::string(pg_uri.empty() ? "" : "id SERIAL PRIMARY KEY, ") + fields + ")");
  const ProcessResult check = Genkey({"table", "check", "--alias", "Shop"});
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_NE(check.err.find("no unique key on (GenID, Prefix)"), std::string::npos) << check.err;

  // Processes racing to make the rows of new sequences make one each.
  Drawers drawers;
  for (int i = 0; i < 6; ++i)
    drawers.Start({"next", "--alias", "Shop", "--mask", std::string(1, 'A' + i % 2) + "###"});
  for (const ProcessResult& r : drawers.End())
    EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(drawers.Distinct());
  EXPECT_EQ(Lines(Genkey({"table", "list", "--alias", "Shop"}).out).size(), 3U);  // and a header
}

// --json: one object a line, for programs; the shell's tells each command's outcome.
TEST_F(GenkeySqliteTest, AnswersForPrograms) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  EXPECT_EQ(Genkey({"next", "--alias", "Shop", "--mask", "J-##", "-n", "2", "--json"}).out,
            "{\"key\":\"J-00\"}\n{\"key\":\"J-01\"}\n");
  Process shell(Args({"shell", "--alias", "Shop", "--mask", "J-##", "--json"}));
  shell.Send("next 2\nundo\nundo\nnext abc\nfly\nquit\n");
  EXPECT_EQ(shell.ReadAll(),
            "{\"command\":\"next 2\",\"keys\":[\"J-02\",\"J-03\"],\"outcome\":\"ok\"}\n"
            "{\"command\":\"undo\",\"key\":\"J-02\",\"outcome\":\"ok\"}\n"
            "{\"command\":\"undo\",\"key\":\"J-02\",\"message\":\"Can NOT undo!\","
            "\"outcome\":\"refused\"}\n"
            "{\"command\":\"next abc\",\"message\":\"next needs a number of keys, at least "
            "1\",\"outcome\":\"refused\"}\n"
            "{\"command\":\"fly\",\"message\":\"unknown command 'fly' (next [N], batch N, "
            "undo, proc TEXT, date YYYY-MM-DD, who, quit)\",\"outcome\":\"refused\"}\n");
  // A UTF-8 shell: its commands are converted too, and its keys printed as UTF-8.
  Process utf8({"/usr/bin/env", "LC_ALL=C.UTF-8", GENKEY_PATH, "shell", "--alias", "Shop", "--mask",
                "@-##", "--proc", "X"});
  utf8.Send("proc Ё\nnext\nproc 中\nquit\n");
  EXPECT_EQ(utf8.ReadAll(), "Ё-00\n\n");
  EXPECT_EQ(utf8.Wait().err,
            "genkey: the command: the character U+4E2D at position 6 has no place in "
            "Windows-1251\n");
  EXPECT_NE(
      Genkey({"table", "export", "--alias", "Shop", "--format", "csv", "--encoding", "cp1251"})
          .out.find("0,\xA8-,00,"),
      std::string::npos);  // the table's own bytes
  const std::vector<std::string> rows =
      Lines(Genkey({"table", "list", "--alias", "Shop", "--json"}).out);
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[0].substr(0, 48), "{\"GenID\":0,\"Prefix\":\"J-\",\"State\":0,\"Suffix\":\"02\"");
  EXPECT_NE(rows[1].find("\"Prefix\":\"Ё-\""), std::string::npos) << rows[1];  // UTF-8
}

// A client of the row-field cycle waits its turn for the row among clients that draw in
// transactions one key after another, and draws: it once found the row always in another's
// edit and gave up after MaxWait.
TEST_P(GenkeyDrawTest, ARowFieldClientDrawsAmongBusyTransactionClients) {
  DrawThroughADisruption(4, "B#######", [](Drawers& busy) {
    const ProcessResult fields =
        testing::RunProcess({GENKEY_PATH, "next", "--alias", "Shop", "--mask", "B#######", "--lock",
                             "fields", "-n", "50", "--max-wait", "3"});
    EXPECT_EQ(fields.exit_code, 0) << fields.err;
    EXPECT_EQ(Lines(fields.out).size(), 50U);
    for (const std::string& k : Lines(fields.out))
      busy.keys.insert(k);
  });
}

// Shells of both lock modes, with and without a cache, on a digits-only sequence (a
// transaction has the store step it) and one of letters (the generator steps it), driven at
// random in rounds (each round gives every shell a draw, a batch or an undo at once), some
// killed mid-round while they draw and replaced: no key printed twice unless an undo handed it
// back. The random tester of the generator on the memory store does this at scale; here the
// same promise holds with real processes on a real store, past the locks the killed leave.
TEST_P(GenkeyDrawTest, ShellsDrivenAtRandomAndKilledNeverRepeatAKey) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  std::mt19937 random(GetParam() == "sqlite" ? 2026 : 1208);
  const std::vector<std::string> masks = {"W&&&", "D####"};
  struct Shell {
    std::unique_ptr<Process> p;
    std::vector<std::string> mine;  // keys it printed and holds, in order
    int keys = 0;                   // asked for in this round; 0: an undo
  };
  const auto start = [&](std::size_t i) {
    const char* lock = random() % 2 == 0 ? "transaction" : "fields";
    const std::string cache = std::to_string(std::vector<int>{0, 0, 3, 7}[random() % 4]);
    return Shell{std::make_unique<Process>(Args({"shell", "--alias", "Shop", "--mask", masks[i % 2],
                                                 "--lock", lock, "--cache", cache})),
                 {}};
  };
  // The rows exist before any cache reserves: undoing the first key of a new sequence's
  // reservation answers with nothing, which would read as a refusal.
  std::multiset<std::string> held;
  for (const std::string& mask : masks)
    held.insert(Lines(Genkey({"next", "--alias", "Shop", "--mask", mask}).out).at(0));
  const auto hand_out = [&](Shell& s, const std::string& key, int round) {
    ASSERT_EQ(held.count(key), 0U) << key << " handed out twice in round " << round;
    held.insert(key);
    s.mine.push_back(key);
  };
  std::vector<Shell> shells;
  for (std::size_t i = 0; i < 4; ++i)
    shells.push_back(start(i));
  for (int round = 0; round < 120; ++round) {
    for (Shell& s : shells) {
      const unsigned what = random() % 10;
      s.keys = what <= 2 ? 0 : what <= 4 ? static_cast<int>(random() % 4) + 2 : 1;
      s.p->Send(s.keys == 0   ? std::string("undo\n")
                : s.keys == 1 ? std::string("next\n")
                              : "batch " + std::to_string(s.keys) + "\n");
    }
    // Undos first: a key handed back in a round may be drawn again in it, never the reverse.
    for (Shell& s : shells) {
      if (s.keys != 0) continue;
      const std::string answer = s.p->ReadLine().value_or("(none)");
      // Refused, it answers with the last key it drew (or nothing, from an empty cache).
      if (!s.mine.empty() && answer != s.mine.back() && !answer.empty()) {
        held.erase(held.find(s.mine.back()));
        s.mine.pop_back();
      }
    }
    // Now and then one is killed while it draws: what it printed stays handed out.
    const std::size_t victim = random() % 6 == 0 ? random() % shells.size() : shells.size();
    for (std::size_t i = 0; i < shells.size(); ++i) {
      Shell& s = shells[i];
      if (i == victim && s.keys != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        s.p->Kill(SIGKILL);
        for (const std::string& key : Lines(s.p->Wait().out))
          hand_out(s, key, round);
        s = start(i);
        continue;
      }
      for (int k = 0; k < s.keys; ++k) {
        const std::optional<std::string> key = s.p->ReadLine();
        ASSERT_TRUE(key) << "round " << round;
        hand_out(s, *key, round);
      }
    }
  }
}

// A client stopped (SIGSTOP) while it holds the row in a transaction holds nobody up for
// longer than their MaxWait: on a server its session is ended and the others go on (and so
// does it, once resumed, through a new session); on a file the others give up with a clear
// error. Nothing repeats once it resumes. Two clients draw at once with a mask whose set is
// out of order, which the client steps itself, so that they queue for the row's lock (a lone
// client's draw, or any draw of plain counting places, is one statement on a server, holding
// nothing between round trips).
TEST_P(GenkeyDrawTest, AStoppedHolderHoldsNobodyUpForLongerThanMaxWait) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  const std::vector<std::string> draw = {"next", "--alias", "Shop", "--mask", "S[ZA]&&&&&"};
  std::multiset<std::string> keys;
  const auto keep = [&](const ProcessResult& r) {
    for (const std::string& k : Lines(r.out))
      keys.insert(k);
  };
  bool blocked = false;  // the stopped client held the row
  std::string last;      // what the last attempt's clients said, should it come to that
  // The holder holds the row only for a moment of each draw: stop it again and again until it
  // is caught holding it, for up to a minute.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!blocked && std::chrono::steady_clock::now() < give_up) {
    std::vector<std::string> args = draw;
    args.insert(args.end(), {"-n", "1000000"});
    Process holder(Args(args));
    Process rival(Args(args));
    ASSERT_TRUE(holder.ReadLine(std::chrono::seconds(60)).has_value());
    ASSERT_TRUE(rival.ReadLine(std::chrono::seconds(60)).has_value());
    holder.Kill(SIGSTOP);
    args = draw;
    args.insert(args.end(), {"-n", "2", "--max-wait", pg_uri.empty() ? "1" : "20"});
    const auto asked = std::chrono::steady_clock::now();
    const ProcessResult waiter = Genkey(args);
    const auto waited = std::chrono::steady_clock::now() - asked;
    holder.Kill(SIGCONT);
    if (pg_uri.empty()) {
      // The file stays locked: the waiter gives up after its MaxWait, naming the table.
      blocked = waiter.exit_code != 0;
      if (blocked) {
        EXPECT_NE(waiter.err.find("the row of table GENTBL.DB stayed busy for 1 seconds"),
                  std::string::npos)
            << waiter.err;
      }
    } else {
      // The server ends the stopped client's session; the waiter goes on.
      EXPECT_EQ(waiter.exit_code, 0) << waiter.err;
    }
    keep(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder.Kill(SIGTERM);
    rival.Kill(SIGTERM);
    const ProcessResult held = holder.Wait();
    keep(held);
    keep(rival.Wait());
    last = "waiter: " + waiter.err + "holder (" + std::to_string(held.exit_code) + "): " + held.err;
    if (!pg_uri.empty()) {
      // The waiter waited for the server to end the stopped session (after 5 s idle in its
      // transaction): the holder held the row. Resumed, it draws on through a new session.
      blocked = waited >= std::chrono::seconds(4);
      if (blocked) {
        EXPECT_EQ(held.exit_code, 128 + SIGTERM) << held.err;
      }
    }
  }
  EXPECT_TRUE(blocked) << "never stopped the holder while it held the row; " << last;
  EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size())
      << "a key was handed out twice";
}

TEST_F(GenkeySqliteTest, BadTablesAndRowsGiveClearErrorsAndChangeNothing) {
  const fs::path shop = dir / "shop";
  // A file that is no table at all.
  std::ofstream(shop / "JUNK.DB") << "this is not a database file, just some text.";
  // A generator table with damaged rows.
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop", "--table", "HURT.DB"}).exit_code, 0);
  ASSERT_EQ(Genkey({"next", "--alias", "Shop", "--table", "HURT.DB", "--mask", "##"}).exit_code, 0);
  ASSERT_EQ(Genkey({"next", "--alias", "Shop", "--table", "HURT.DB", "--type", "2", "--mask", "##"})
                .exit_code,
            0);
  Sql(shop / "HURT.DB",
      "UPDATE \"HURT.DB\" SET State = 1, Time = 'yesterday' WHERE GenID = 0;"
      "UPDATE \"HURT.DB\" SET State = 'held' WHERE GenID = 2");

  struct Case {
    std::vector<std::string> args;
    std::string error;  // a part of what standard error must say
  };
  const std::vector<Case> cases = {
      {{"--alias", "Shop", "--table", "JUNK.DB"}, "file is not a database"},
      {{"--alias", "Shop", "--table", "NONE.DB"},
       "Table NONE.DB does not exist in " + shop.string() +
           "\ngenkey: make the table with: genkey table create --alias Shop --table NONE.DB"},
      {{"--alias", "Shop", "--table", "HURT.DB"}, "'erday' is not a valid integer value"},
      {{"--alias", "Shop", "--table", "HURT.DB", "--type", "2"},
       "Field State holds 'held', not a number"},
      {{"--alias", "Shop", "--table", "../aliases"}, "Invalid table name '../aliases'"},
  };
  const auto tables = [&] { return ReadFile(shop / "HURT.DB") + ReadFile(shop / "JUNK.DB"); };
  const std::string before = tables();
  for (const Case& c : cases) {
    std::vector<std::string> args = {"next", "--mask", "##"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Genkey(args);
    EXPECT_EQ(r.exit_code, 1) << c.error;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  EXPECT_TRUE(tables() == before);
}

TEST_P(GenkeyDrawTest, StoredFormsAndTableRepair) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  std::ofstream(dir / "orders.frm") << "object Orders: TDataModule\n"
                                       "  object Invoices: TGenerator\n"
                                       "    Mask = 'F-##'\n"
                                       "    StartValue = '10'\n"
                                       "    GeneratorType = 7\n"
                                       "    DataBaseName = 'Shop'\n"
                                       "    TableName = 'GENTBL.DB'\n"
                                       "  end\n"
                                       "end\n";
  const std::string form = (dir / "orders.frm").string();
  EXPECT_EQ(Genkey({"form", form, "next", "-n", "2"}).out, "F-10\nF-11\n");
  EXPECT_EQ(Genkey({"form", form, "--component", "invoices", "next"}).out, "F-12\n");
  EXPECT_EQ(Genkey({"form", form, "--component", "Nobody", "next"}).exit_code, 1);

  // A holder that died leaves its row locked; unlock frees it.

  RunSql("UPDATE \"GENTBL.DB\" SET \"State\" = 1, \"Try\" = 4, \"Who\" = 'GONE'");
  const auto held = [&] {
    return Lines(Genkey({"table", "list", "--held", "--alias", "Shop"}).out);
  };
  ASSERT_EQ(held().size(), 2U);
  EXPECT_EQ(held()[0].substr(held()[0].rfind('\t')), "\tHeld");
  EXPECT_NE(held()[1].find("\tGONE\t"), std::string::npos) << held()[1];
  const ProcessResult unlock =
      Genkey({"table", "unlock", "--alias", "Shop", "--type", "7", "--prefix", "F-"});
  EXPECT_EQ(unlock.out, "unlocked the row held by GONE\n");
  const std::string row =
      Genkey({"table", "show", "--alias", "Shop", "--type", "7", "--prefix", "F-"}).out;
  EXPECT_NE(row.find("State = 0\nWho = GONE\nTry = 0\n"), std::string::npos) << row;
  EXPECT_EQ(held().size(), 1U);
  EXPECT_EQ(Genkey({"table", "show", "--alias", "Shop", "--prefix", "none"}).exit_code, 1);
  EXPECT_EQ(Genkey({"tables", "--alias", "Shop"}).out, "GENTBL.DB\n");
  EXPECT_EQ(Genkey({"table", "check", "--alias", "Shop"}).exit_code, 0);
}

TEST_F(GenkeySqliteTest, ReadOnlyTableIsRefused) {
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  ASSERT_EQ(Genkey({"next", "--alias", "Shop", "--mask", "##"}).out, "00\n");
  // Another user may read the table and its folder but not write them.
  fs::permissions(dir.Path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  fs::permissions(dir / "shop", fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  fs::permissions(dir / "aliases", fs::perms::others_read, fs::perm_options::add);
  const std::string before = ReadFile(dir / "shop" / "GENTBL.DB");
  const ProcessResult r =
      testing::RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           GENKEY_PATH, "next", "--alias", "Shop", "--mask", "##"});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.err.find("Error while opening generator table GENTBL.DB!"), std::string::npos)
      << r.err;
  EXPECT_TRUE(ReadFile(dir / "shop" / "GENTBL.DB") == before);
}

TEST_P(GenkeyDrawTest, AServerRestartIsAPauseAndNoKeyRepeats) {
  const char* restart = std::getenv("TGEN_PG_RESTART");
  if (pg_uri.empty() || restart == nullptr) GTEST_SKIP() << "needs the PostgreSQL server";
  DrawThroughADisruption(3, "R#######", Command(restart));
}

// Sequences move in whole: a file is checked and written in one commit or refused, a killed
// import leaves the table as it was, and drawing goes on from an imported suffix.
TEST_P(GenkeyDrawTest, ImportsAreWholeOrNothingAndDrawingGoesOnFromThem) {
  ASSERT_EQ(Genkey({"table", "create", "--alias", "Shop"}).exit_code, 0);
  ASSERT_EQ(Genkey({"next", "--alias", "Shop", "--mask", "INV-####", "-n", "3"}).exit_code, 0);
  const auto exported = [&](const std::string& alias) {
    const ProcessResult r = Genkey({"table", "export", "--alias", alias, "--format", "csv"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  };
  const std::string before = exported("Shop");
  const std::string header = "GenID,Prefix,Suffix,State,Who,Try,Time\r\n";
  // UTF-8, as a spreadsheet writes it: Cyrillic letters come in as the table's bytes.
  std::ofstream(dir / "old.csv") << "\xEF\xBB\xBF" << header << "5,Аб-,0041,1,20261201080000000,3,"
                                 << "20261201080000001\r\n0,INV-,0100,0,,0,\r\n";
  // A conflict refuses the whole file; a replacement moves a sequence only forward, which only
  // a mask can tell.
  const std::vector<std::string> import = {
      "table", "import", "--alias", "Shop", "--format", "csv", (dir / "old.csv").string()};
  EXPECT_EQ(Genkey(import).exit_code, 1);
  EXPECT_EQ(exported("Shop"), before);
  std::vector<std::string> replace = import;
  replace.insert(replace.end(), {"--replace", "--mask", "INV-####"});
  ProcessResult r = Genkey(replace);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Genkey({"next", "--alias", "Shop", "--mask", "INV-####"}).out, "INV-0101\n");
  EXPECT_EQ(Genkey({"next", "--alias", "Shop", "--type", "5", "--mask", "\xC0\xE1-####"}).out,
            "\xC0\xE1-0042\n");
  EXPECT_NE(exported("Shop").find("5,Аб-,0042,"), std::string::npos);  // and go out as UTF-8
  // JSON, whose texts are UTF-8, comes back as the table's bytes.
  const std::string json = (dir / "shop.json").string();
  ASSERT_EQ(Genkey({"table", "export", "--alias", "Shop", "--format", "json", "--output", json})
                .exit_code,
            0);
  r = Genkey({"table", "import", "--alias", "Shop", "--format", "json", json});
  EXPECT_NE(r.out.find("2 in the table as they are"), std::string::npos) << r.out << r.err;
  // Identical rows are no conflicts: the table's own export comes back in without --replace,
  // here through a pipe, which can be read only once: its rows are kept for the write.
  std::ofstream(dir / "same.csv") << exported("Shop");
  r = testing::RunProcess({"/bin/sh", "-c",
                           "cat '" + (dir / "same.csv").string() + "' | '" + GENKEY_PATH +
                               "' table import --alias Shop --format csv /dev/stdin"});
  EXPECT_NE(r.out.find("2 in the table as they are"), std::string::npos) << r.out << r.err;

  // An import killed while it writes leaves the table as it was.
  {
    std::ofstream big(dir / "big.csv", std::ios::binary);
    big << header;
    for (int i = 0; i < 150000; ++i)
      big << 1000 + i << ",P,0001,0,,0,\r\n";
  }
  const std::string kept = exported("Shop");
  testing::Process importer(
      Args({"table", "import", "--alias", "Shop", "--format", "csv", (dir / "big.csv").string()}));
  // Killed once the write is under way: the table file's log grows, or the server takes rows.
  const auto writing = [&] {
    if (pg_uri.empty()) {
      std::error_code ec;
      return fs::file_size(dir / "shop" / "GENTBL.DB-wal", ec) > 200000 && !ec;
    }
    const ProcessResult q = testing::RunProcess(
        {"/usr/bin/psql", "-Atq", pg_uri, "-c",
         "SELECT count(*) FROM pg_stat_progress_copy WHERE tuples_processed > 1000"});
    return q.out != "0\n";
  };
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!writing() && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  importer.Kill(SIGKILL);
  const ProcessResult killed = importer.Wait();
  EXPECT_EQ(killed.exit_code, 128 + SIGKILL) << "the import ended before it was killed";
  EXPECT_EQ(exported("Shop"), kept);
}

INSTANTIATE_TEST_SUITE_P(Stores, GenkeyDrawTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace tgen
