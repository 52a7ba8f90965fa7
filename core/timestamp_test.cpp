#include "core/timestamp.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tgen {
namespace {

TEST(TimeStamp, PadsEveryPartWithZeros) {
  struct Case {
    TLocalTime moment;
    std::string stamp;
  };
  const std::vector<Case> cases = {
      {{2026, 3, 5, 4, 3, 2, 7}, "20260305040302007"},
      {{1999, 12, 31, 23, 59, 59, 999}, "19991231235959999"},
      {{2030, 1, 1, 0, 0, 0, 0}, "20300101000000000"},
      {{2026, 11, 20, 13, 37, 41, 50}, "20261120133741050"},
  };
  for (const Case& c : cases) {
    const ScopedClock clock(std::make_shared<ManualClock>(EncodeLocal(c.moment)));
    EXPECT_EQ(GetTimeStamp(), c.stamp);
    const TLocalTime parts{Year, Month, Day, Hour, Min, Sec, MSec};
    EXPECT_EQ(parts, c.moment);
  }
}

TEST(TimeStamp, UnitVariablesBelongToTheCallingThread) {
  const ScopedClock clock(std::make_shared<ManualClock>(EncodeLocal({2031, 7, 8, 9, 10, 11, 12})));
  GetTimeStamp();
  std::thread other([] {
    const ScopedClock later(std::make_shared<ManualClock>(EncodeLocal({2040, 1, 2, 3, 4, 5, 6})));
    GetTimeStamp();
    EXPECT_EQ(Year, 2040);
  });
  other.join();
  EXPECT_EQ(Year, 2031);
  EXPECT_EQ(MSec, 12);
}

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

TEST(TimeStamp, UniqueAcrossThreads) {
  std::vector<std::vector<std::string>> taken(4);
  std::vector<std::thread> threads;
  for (auto& list : taken) {
    threads.emplace_back([&list] {
      for (int i = 0; i < 25; ++i)
        list.push_back(TakeUniqueTimeStamp());
    });
  }
  for (auto& t : threads)
    t.join();
  std::set<std::string> all;
  for (const auto& list : taken)
    all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), 100U);
  for (const std::string& s : all)
    EXPECT_EQ(s.size(), 17U);
}

}  // namespace
}  // namespace tgen
