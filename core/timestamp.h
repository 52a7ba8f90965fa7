// Time stamps: the 17-digit local time text that dates the generator table's rows and
// identifies each generator instance.
//
// A stamp is year (4 digits), month, day, hour, minute, second (2 each) and millisecond (3),
// zero-padded, local time: 5 March 2026, 04:03:02.007 is 20260305040302007. For four-digit
// years stamps sort as text in time order.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace tgen {

// Set by every GetTimeStamp() call, for the calling thread only (each thread has its own).
extern thread_local TDateTime Present;
extern thread_local std::uint16_t Year;
extern thread_local std::uint16_t Month;
extern thread_local std::uint16_t Day;
extern thread_local std::uint16_t Hour;
extern thread_local std::uint16_t Min;
extern thread_local std::uint16_t Sec;
extern thread_local std::uint16_t MSec;

// The stamp of the current moment (from the installed clock); sets the variables above.
std::string GetTimeStamp();

// Hands out stamps of the current moment that it never handed out before: when the clock has
// not moved on since the last one, it waits for the clock's next millisecond, and when the
// clock stands still or went back, it takes the millisecond after the last stamp. Thread-safe.
class TUniqueTimeStamps {
 public:
  std::string Take();

 private:
  std::mutex mutex_;
  std::string last_;
};

// A stamp that no earlier call in this process has returned (one TUniqueTimeStamps for all).
std::string TakeUniqueTimeStamp();

// The stamp one millisecond after `stamp` (a 17-digit stamp), across every calendar carry.
std::string NextTimeStamp(const std::string& stamp);

}  // namespace tgen
