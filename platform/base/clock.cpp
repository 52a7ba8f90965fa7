#include "platform/base/clock.h"

#include <ctime>

namespace tgen {

namespace {

class SystemClock final : public Clock {
 public:
  [[nodiscard]] TDateTime Now() const override { return std::chrono::system_clock::now(); }
};

std::mutex clock_mutex;

std::shared_ptr<const Clock>& InstalledClock() {
  static std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

}  // namespace

std::shared_ptr<const Clock> SetClock(std::shared_ptr<const Clock> clock) {
  if (!clock) clock = std::make_shared<SystemClock>();
  const std::lock_guard lock(clock_mutex);
  std::swap(InstalledClock(), clock);
  return clock;
}

TDateTime Now() {
  std::shared_ptr<const Clock> clock;
  {
    const std::lock_guard lock(clock_mutex);
    clock = InstalledClock();
  }
  return clock->Now();
}

TLocalTime DecodeLocal(TDateTime t) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto since_epoch = duration_cast<milliseconds>(t.time_since_epoch()).count();
  auto seconds = static_cast<std::time_t>(since_epoch / 1000);
  auto msec = static_cast<int>(since_epoch % 1000);
  if (msec < 0) {  // before 1970: round the seconds down
    msec += 1000;
    --seconds;
  }
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return {static_cast<std::uint16_t>(tm.tm_year + 1900),
          static_cast<std::uint16_t>(tm.tm_mon + 1),
          static_cast<std::uint16_t>(tm.tm_mday),
          static_cast<std::uint16_t>(tm.tm_hour),
          static_cast<std::uint16_t>(tm.tm_min),
          static_cast<std::uint16_t>(tm.tm_sec),
          static_cast<std::uint16_t>(msec)};
}

TDateTime EncodeLocal(const TLocalTime& parts) {
  std::tm tm{};
  tm.tm_year = parts.Year - 1900;
  tm.tm_mon = parts.Month - 1;
  tm.tm_mday = parts.Day;
  tm.tm_hour = parts.Hour;
  tm.tm_min = parts.Min;
  tm.tm_sec = parts.Sec;
  tm.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&tm);
  return std::chrono::system_clock::from_time_t(seconds) + std::chrono::milliseconds(parts.MSec);
}

}  // namespace tgen
