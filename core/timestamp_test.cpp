#include "core/timestamp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/base/process_testing.h"
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
  constexpr int kProcesses = 4;
  constexpr int kEach = 100;
  std::vector<std::unique_ptr<testing::Process>> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(std::make_unique<testing::Process>([file = dir / "stamps"] {
      TUniqueTimeStamps stamps(file);
      for (int n = 0; n < kEach; ++n)
        std::printf("%s\n", stamps.Take().c_str());
      return 0;
    }));
  }
  std::set<std::string> all;
  for (const auto& child : children) {
    const testing::ProcessResult r = child->Wait();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& stamp : testing::Lines(r.out))
      all.insert(stamp);
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
