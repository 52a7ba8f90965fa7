// Drawing keys while the PostgreSQL primary fails over to its synchronous standby, planned and
// by a crash, in both lock modes: real processes on a real pg_auto_failover formation, which
// `scripts/with-postgres.sh --formation` starts (the tests skip without it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/generator.h"
#include "core/gentable.h"
#include "platform/base/notice.h"
#include "platform/base/process_testing.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kClients = 4;

// One client: draws until `stop` exists, printing each key handed out at once, and each
// failed draw's message on standard error; it goes on after a failure, as an application would.
int Client(TLockMode mode, const std::string& table, const fs::path& stop) {
  // Swallows the generator's notices ("System is busy", ...).
  const ScopedNoticeSink quiet(std::make_shared<RecordingNoticeSink>());
  TGenerator g;
  g.SetMask("F-########");
  g.SetDataBaseName("Formation");
  g.SetTableName(table);
  g.SetLockMode(mode);
  g.SetMaxWait(30);
  g.InitDB();
  if (g.Disabled()) return 3;
  while (!fs::exists(stop)) {
    try {
      // A lost connection fails the draw under way; the next one connects again.
      const std::string key = g.Generator().str();
      if (key.empty()) throw Exception("an empty key");
      std::printf("%s\n", key.c_str());
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      usleep(100000);
    }
  }
  return 0;
}

// A pg_auto_failover formation's primary and standby on loopback, the alias Formation on it,
// and a generator table named for the lock mode and the kind of failover. Each failover starts
// from a whole formation whose standby confirms every commit: after the last one the new
// primary runs without it until the old one has caught up. (That the standby must be
// synchronous is the formation's own matter: with an asynchronous one a key committed on the
// primary but not yet sent on is handed out again after a failover.)
class FailoverTest : public ::testing::TestWithParam<std::tuple<TLockMode, bool>> {
 protected:
  void SetUp() override {
    if (std::getenv("TGEN_PG_FAILOVER") == nullptr)
      GTEST_SKIP() << "no formation (run under scripts/with-postgres.sh --formation)";
    dir_ = std::make_unique<testing::ScratchFolder>(
        "failover", "Formation = " + std::string(std::getenv("TGEN_PG_URI")) + "\n");
    const auto [mode, crash] = GetParam();
    table_ = std::string("GEN_") + (mode == TLockMode::lmTransaction ? "TX" : "RF") +
             (crash ? "_CRASH" : "_PLANNED");
    CreateGeneratorTable("Formation", table_);
    ASSERT_EQ(Run("TGEN_PG_QUORUM", " true"), 0) << "no synchronous standby";
  }

  // Runs the formation's command named by `variable`, with `args`.
  static int Run(const char* variable, const std::string& args = "") {
    const std::string command = std::string(std::getenv(variable)) + args;
    return std::system(command.c_str());  // NOLINT(concurrency-mt-unsafe): one thread
  }

  // The row's suffix as the primary holds it now.
  [[nodiscard]] std::string StoredSuffix() const {
    const testing::ProcessResult r =
        testing::RunProcess({"/usr/bin/psql", "-Atq", std::getenv("TGEN_PG_URI"), "-c",
                             "SELECT \"Suffix\" FROM \"" + table_ + "\" WHERE \"GenID\" = 0"});
    return r.out.substr(0, r.out.find('\n'));
  }

  std::unique_ptr<testing::ScratchFolder> dir_;
  std::string table_;
};

TEST_P(FailoverTest, ClientsGoOnWithEveryKeyDistinct) {
  const auto [mode, crash] = GetParam();
  const fs::path stop = *dir_ / "stop";
  std::vector<std::unique_ptr<testing::Process>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::make_unique<testing::Process>(
        [mode = mode, this, &stop] { return Client(mode, table_, stop); }));
  }
  std::vector<std::vector<std::string>> keys(kClients);
  // The keys client `c` printed so far.
  const auto drawn = [&](int c) {
    std::vector<std::string>& mine = keys.at(static_cast<std::size_t>(c));
    while (const auto key = clients.at(static_cast<std::size_t>(c))->ReadLine(1ms))
      mine.push_back(*key);
    return mine.size();
  };
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<std::size_t> before;
  for (int c = 0; c < kClients; ++c)
    before.push_back(drawn(c));
  const auto failover_start = Clock::now();
  ASSERT_EQ(Run(crash ? "TGEN_PG_CRASH" : "TGEN_PG_FAILOVER"), 0);
  // Every client goes on: it draws keys after the failover, within the time a failover takes.
  const auto give_up = Clock::now() + std::chrono::seconds(60);
  std::vector<std::size_t> at_failover;
  for (int c = 0; c < kClients; ++c)
    at_failover.push_back(drawn(c));
  bool all_on = false;
  while (!all_on && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    all_on = true;
    for (int c = 0; c < kClients; ++c)
      all_on = all_on && drawn(c) >= at_failover[static_cast<std::size_t>(c)] + 20;
  }
  const double pause = std::chrono::duration<double>(Clock::now() - failover_start).count();
  std::ofstream(stop) << "";
  std::vector<std::string> all;
  std::set<std::string> errors;
  for (int c = 0; c < kClients; ++c) {
    const testing::ProcessResult r = clients[static_cast<std::size_t>(c)]->Wait();
    EXPECT_EQ(r.exit_code, 0) << "client " << c;
    std::vector<std::string>& mine = keys[static_cast<std::size_t>(c)];
    for (const std::string& k : testing::Lines(r.out))
      mine.push_back(k);
    EXPECT_GT(mine.size(), before[static_cast<std::size_t>(c)]) << "client " << c;
    all.insert(all.end(), mine.begin(), mine.end());
    for (const std::string& e : testing::Lines(r.err))
      errors.insert(e);
  }
  if (crash) {
    EXPECT_EQ(Run("TGEN_PG_REJOIN"), 0);
  }
  EXPECT_TRUE(all_on) << "not every client drew again within 60 s of the failover";
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a key was repeated";
  // The promoted server's row stands at or past every key handed out.
  ASSERT_FALSE(all.empty());
  EXPECT_GE(StoredSuffix(), all.back().substr(2));
  // Failures say what happened and that no key was handed out, never a raw server text alone.
  for (const std::string& e : errors) {
    EXPECT_EQ(e.rfind("Can not generate a new value: ", 0), 0U) << e;
    EXPECT_NE(e.find("; no key was handed out"), std::string::npos) << e;
  }
  std::cout << "[ figures  ] " << table_ << ": " << all.size() << " keys, all distinct; "
            << "drawing went on " << pause << " s after the failover began; " << errors.size()
            << " distinct failure messages\n";
  for (const std::string& e : errors)
    std::cout << "[ failure  ] " << e << "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Formation, FailoverTest,
    ::testing::Combine(::testing::Values(TLockMode::lmTransaction, TLockMode::lmRowFields),
                       ::testing::Bool()),
    [](const auto& param_info) {
      return std::string(std::get<0>(param_info.param) == TLockMode::lmTransaction ? "Transaction"
                                                                                   : "RowFields") +
             (std::get<1>(param_info.param) ? "Crash" : "Planned");
    });

}  // namespace
}  // namespace tgen
