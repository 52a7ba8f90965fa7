// The wall clock, replaceable so that tests can set the time.
//
// Now() asks the installed clock (by default the system clock). Installing a clock and asking
// it are thread-safe. Local time is split and joined with the C library's thread-safe calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tgen {

using TDateTime = std::chrono::system_clock::time_point;

// A moment split into its local calendar and clock parts.
struct TLocalTime {
  std::uint16_t Year = 0, Month = 0, Day = 0, Hour = 0, Min = 0, Sec = 0, MSec = 0;
  friend bool operator==(const TLocalTime&, const TLocalTime&) = default;
};

class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;
  [[nodiscard]] virtual TDateTime Now() const = 0;
};

// A clock that stands still until told to move; for tests.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(TDateTime start) : now_(start) {}
  [[nodiscard]] TDateTime Now() const override {
    const std::lock_guard lock(mutex_);
    return now_;
  }
  void Set(TDateTime t) {
    const std::lock_guard lock(mutex_);
    now_ = t;
  }
  void Advance(std::chrono::milliseconds d) {
    const std::lock_guard lock(mutex_);
    now_ += d;
  }

 private:
  mutable std::mutex mutex_;
  TDateTime now_;
};

// Installs `clock` (null: the system clock) and returns the one it replaces.
std::shared_ptr<const Clock> SetClock(std::shared_ptr<const Clock> clock);

// Installs a clock for the life of the guard.
class ScopedClock {
 public:
  explicit ScopedClock(std::shared_ptr<const Clock> clock)
      : previous_(SetClock(std::move(clock))) {}
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  ~ScopedClock() { SetClock(previous_); }

 private:
  std::shared_ptr<const Clock> previous_;
};

// The current moment, from the installed clock.
TDateTime Now();

// Splits a moment into local time; joins local time parts into a moment.
TLocalTime DecodeLocal(TDateTime t);
TDateTime EncodeLocal(const TLocalTime& parts);

}  // namespace tgen
