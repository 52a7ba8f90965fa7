#include "core/timestamp.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

TEST(TimeStamp, NextCarriesThroughTheCalendar) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"20260305040302007", "20260305040302008"}, {"20260305040302999", "20260305040303000"},
      {"20260305045959999", "20260305050000000"}, {"20240228235959999", "20240229000000000"},
      {"20230228235959999", "20230301000000000"}, {"20261231235959999", "20270101000000000"},
  };
  for (const auto& [stamp, next] : cases)
    EXPECT_EQ(NextTimeStamp(stamp), next) << stamp;
}

TEST(TimeStamp, UniqueStampsNeverRepeatEvenWhenTheClockStandsStillOrGoesBack) {
  const TDateTime start = EncodeLocal({2001, 6, 1, 12, 0, 0, 500});
  auto clock = std::make_shared<ManualClock>(start);
  const ScopedClock guard(clock);
  TUniqueTimeStamps stamps;
  EXPECT_EQ(stamps.Take(), "20010601120000500");
  EXPECT_EQ(stamps.Take(), "20010601120000501");  // same millisecond
  clock->Advance(std::chrono::hours(-1));
  EXPECT_EQ(stamps.Take(), "20010601120000502");  // the clock went back
  clock->Set(start + std::chrono::seconds(1));
  EXPECT_EQ(stamps.Take(), "20010601120001500");  // moved on: its own time again
}

TEST(TimeStamp, UniqueAcrossProcessesSharingAFile) {
  const testing::ScratchFolder dir("stamps");
  const auto file = dir / "stamps";
  constexpr int kProcesses = 4;
  constexpr int kEach = 100;
  std::vector<std::pair<pid_t, FILE*>> children;
  for (int i = 0; i < kProcesses; ++i) {
    std::array<int, 2> fds{};
    ASSERT_EQ(::pipe(fds.data()), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      TUniqueTimeStamps stamps(file);
      for (int n = 0; n < kEach; ++n) {
        const std::string line = stamps.Take() + "\n";
        if (::write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
          ::_exit(1);
        }
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    children.emplace_back(pid, ::fdopen(fds[0], "r"));
  }
  std::set<std::string> all;
  for (auto [pid, in] : children) {
    std::array<char, 32> line{};
    while (std::fgets(line.data(), line.size(), in) != nullptr)
      all.insert(std::string(line.data(), 17));
    std::fclose(in);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(all.size(), std::size_t{kProcesses * kEach});
}

TEST(TimeStamp, ADamagedOrForeignStampFileIsLeftAlone) {
  const testing::ScratchFolder dir("stamp");
  const auto other = dir / "other";
  std::ofstream(other) << "not mine";
  const struct {
    const char* content;  // null: a link to another file
    bool rewritten;
  } cases[] = {{"garbage", true}, {"20261399250000000", true}, {nullptr, false}};
  for (const auto& c : cases) {
    const auto file = dir / "stamp";
    if (c.content != nullptr) {
      std::ofstream(file) << c.content;
    } else {
      std::filesystem::create_symlink(other, file);
    }
    TUniqueTimeStamps stamps(file);
    const std::string a = stamps.Take();
    const std::string b = stamps.Take();
    EXPECT_LT(a, b);
    EXPECT_EQ(a.substr(0, 2), "20");
    std::ifstream in(file);
    const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now == b, c.rewritten) << (c.content != nullptr ? c.content : "link");
    std::filesystem::remove(file);
  }
  std::ifstream in(other);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            "not mine");
}

}  // namespace
}  // namespace tgen
