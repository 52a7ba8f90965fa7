#include "core/timestamp.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/genmask.h"

namespace tgen {

thread_local TDateTime Present;
thread_local std::uint16_t Year = 0;
thread_local std::uint16_t Month = 0;
thread_local std::uint16_t Day = 0;
thread_local std::uint16_t Hour = 0;
thread_local std::uint16_t Min = 0;
thread_local std::uint16_t Sec = 0;
thread_local std::uint16_t MSec = 0;

namespace {

std::string Format(const TLocalTime& t) {
  // Blank-padded fields, as the stamp has always been formatted, then the blanks made zeros.
  std::array<char, 24> date{};
  std::array<char, 24> time{};
  static_cast<void>(std::snprintf(date.data(), date.size(), "%4d%2d%2d", t.Year, t.Month, t.Day));
  static_cast<void>(
      std::snprintf(time.data(), time.size(), "%2d%2d%2d%3d", t.Hour, t.Min, t.Sec, t.MSec));
  std::string stamp = std::string(date.data()) + time.data();
  SpcTo0(stamp);
  return stamp;
}

}  // namespace

std::string GetTimeStamp() {
  Present = Now();
  const TLocalTime t = DecodeLocal(Present);
  Year = t.Year;
  Month = t.Month;
  Day = t.Day;
  Hour = t.Hour;
  Min = t.Min;
  Sec = t.Sec;
  MSec = t.MSec;
  return Format(t);
}

std::string NextTimeStamp(const std::string& stamp) {
  using namespace std::chrono;
  auto part = [&](std::size_t at, std::size_t len) { return std::stoi(stamp.substr(at, len)); };
  const year_month_day date{year(part(0, 4)), month(static_cast<unsigned>(part(4, 2))),
                            day(static_cast<unsigned>(part(6, 2)))};
  const auto moment = sys_days(date) + hours(part(8, 2)) + minutes(part(10, 2)) +
                      seconds(part(12, 2)) + milliseconds(part(14, 3)) + milliseconds(1);
  const auto day_start = floor<days>(moment);
  const year_month_day next_date(day_start);
  const hh_mm_ss clock(duration_cast<milliseconds>(moment - day_start));
  TLocalTime t;
  t.Year = static_cast<std::uint16_t>(static_cast<int>(next_date.year()));
  t.Month = static_cast<std::uint16_t>(static_cast<unsigned>(next_date.month()));
  t.Day = static_cast<std::uint16_t>(static_cast<unsigned>(next_date.day()));
  t.Hour = static_cast<std::uint16_t>(clock.hours().count());
  t.Min = static_cast<std::uint16_t>(clock.minutes().count());
  t.Sec = static_cast<std::uint16_t>(clock.seconds().count());
  t.MSec = static_cast<std::uint16_t>(clock.subseconds().count());
  return Format(t);
}

std::string TUniqueTimeStamps::Take() {
  const std::lock_guard lock(mutex_);
  std::string stamp = GetTimeStamp();
  // Wait a little for the clock to move on before making a stamp up.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
  while (stamp <= last_ && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    stamp = GetTimeStamp();
  }
  if (stamp <= last_) stamp = NextTimeStamp(last_);
  last_ = stamp;
  return stamp;
}

std::string TakeUniqueTimeStamp() {
  static TUniqueTimeStamps stamps;
  return stamps.Take();
}

}  // namespace tgen
