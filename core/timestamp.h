// Time stamps: the 17-digit local time text that dates the generator table's rows and
// identifies each generator instance.
//
// A stamp is year (4 digits), month, day, hour, minute, second (2 each) and millisecond (3),
// zero-padded, local time: 5 March 2026, 04:03:02.007 is 20260305040302007. For four-digit
// years stamps sort as text in time order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/clock.h"

namespace tgen {

// The stamp of the current moment (from the installed clock).
std::string GetTimeStamp();

// Hands out stamps of the current moment that it never handed out before: when the clock has
// not moved on since the last one, it waits for the clock's next millisecond, and when the
// clock stands still or went back, it takes the millisecond after the last stamp. Thread-safe.
//
// Given a shared file, the stamps are unique among all the processes that use that file: the
// last stamp handed out is kept there, under an exclusive file lock while a stamp is taken.
// Without the file (none given, or it cannot be opened) they are unique within the object.
class TUniqueTimeStamps {
 public:
  explicit TUniqueTimeStamps(const std::filesystem::path& shared = {});
  ~TUniqueTimeStamps();
  TUniqueTimeStamps(const TUniqueTimeStamps&) = delete;
  TUniqueTimeStamps& operator=(const TUniqueTimeStamps&) = delete;

  std::string Take();

 private:
  std::mutex mutex_;
  std::string last_;
  int fd_ = -1;
};

// A stamp that no earlier call returned, in this process or in any other of the same user on
// this machine (they share a file in the user's runtime folder, or TGEN_STAMP_FILE). Generator
// identities come from here, so that clients started in the same millisecond differ.
std::string TakeUniqueTimeStamp();

// How long ago `stamp` was, by the installed clock; nothing for a text that is no stamp.
std::optional<std::chrono::milliseconds> StampAge(const std::string& stamp);

// The stamp one millisecond after `stamp` (a 17-digit stamp), across every calendar carry.
std::string NextTimeStamp(const std::string& stamp);

}  // namespace tgen
