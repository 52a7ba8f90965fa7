#include "core/timestamp.h"

#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tgen {

namespace {

std::string Format(const TLocalTime& t) {
  // Each field zero-padded to its width (a wider value keeps all its digits), written by hand:
  // a draw makes a stamp for every key.
  std::string stamp;
  stamp.reserve(17);
  const auto put = [&stamp](unsigned value, std::size_t width) {
    std::array<char, 8> digits{};
    std::size_t n = 0;
    do {
      digits.at(n++) = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0);
    for (std::size_t i = n; i < width; ++i)
      stamp += '0';
    while (n > 0)
      stamp += digits.at(--n);
  };
  put(t.Year, 4);
  put(t.Month, 2);
  put(t.Day, 2);
  put(t.Hour, 2);
  put(t.Min, 2);
  put(t.Sec, 2);
  put(t.MSec, 3);
  return stamp;
}

// 17 digits of a real date and time of day.
bool IsTimeStamp(const std::string& text) {
  if (text.size() != 17 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  auto part = [&](std::size_t at, std::size_t len) { return std::stoi(text.substr(at, len)); };
  using namespace std::chrono;
  const year_month_day date{year(part(0, 4)), month(static_cast<unsigned>(part(4, 2))),
                            day(static_cast<unsigned>(part(6, 2)))};
  return date.ok() && part(8, 2) < 24 && part(10, 2) < 60 && part(12, 2) < 60;
}

// A stamp of the current moment after `last`.
std::string TakeAfter(const std::string& last) {
  std::string stamp = GetTimeStamp();
  // Wait a little for the clock to move on before making a stamp up; not when the last stamp
  // lies further ahead (the clock went back, or stands still).
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
  const std::string soon = NextTimeStamp(NextTimeStamp(NextTimeStamp(stamp)));
  while (stamp <= last && last < soon && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    stamp = GetTimeStamp();
  }
  return stamp <= last ? NextTimeStamp(last) : stamp;
}

}  // namespace

std::string GetTimeStamp() {
  return Format(DecodeLocal(Now()));
}

namespace {

// The moment a stamp names, counted on the local calendar; nothing for a text that is no stamp.
std::optional<std::chrono::sys_time<std::chrono::milliseconds>> Moment(const std::string& stamp) {
  using namespace std::chrono;
  if (stamp.size() != 17 || stamp.find_first_not_of("0123456789") != std::string::npos) return {};
  auto part = [&](std::size_t at, std::size_t len) { return std::stoi(stamp.substr(at, len)); };
  const year_month_day date{year(part(0, 4)), month(static_cast<unsigned>(part(4, 2))),
                            day(static_cast<unsigned>(part(6, 2)))};
  if (!date.ok()) return {};
  return sys_days(date) + hours(part(8, 2)) + minutes(part(10, 2)) + seconds(part(12, 2)) +
         milliseconds(part(14, 3));
}

}  // namespace

std::optional<std::chrono::milliseconds> StampAge(const std::string& stamp) {
  const auto then = Moment(stamp);
  const auto now = Moment(GetTimeStamp());
  if (!then || !now) return {};
  return *now - *then;
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

TUniqueTimeStamps::TUniqueTimeStamps(const std::filesystem::path& shared) {
  if (shared.empty()) return;
  // Only a plain file of this user: the default lies in a folder that others can write to.
  fd_ = ::open(shared.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())) {
    ::close(fd_);
    fd_ = -1;
  }
}

TUniqueTimeStamps::~TUniqueTimeStamps() {
  if (fd_ >= 0) ::close(fd_);
}

std::string TUniqueTimeStamps::Take() {
  const std::lock_guard lock(mutex_);
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
    last_ = TakeAfter(last_);
    return last_;
  }
  // The file's stamp is the last one any process took; a damaged one counts as none.
  std::array<char, 17> stored{};
  const bool read =
      ::pread(fd_, stored.data(), stored.size(), 0) == static_cast<ssize_t>(stored.size());
  std::string shared(stored.data(), read ? stored.size() : 0);
  if (!IsTimeStamp(shared)) shared.clear();
  last_ = TakeAfter(std::max(last_, shared));
  const bool written =
      ::pwrite(fd_, last_.data(), last_.size(), 0) == static_cast<ssize_t>(last_.size());
  static_cast<void>(written);  // the stamp is unique for this process all the same
  ::flock(fd_, LOCK_UN);
  return last_;
}

std::string TakeUniqueTimeStamp() {
  static TUniqueTimeStamps stamps([]() -> std::filesystem::path {
    if (const char* file = std::getenv("TGEN_STAMP_FILE"); file != nullptr && *file != '\0') {
      return file;
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
      return std::filesystem::path(run) / "tgenerator-stamp";
    }
    return std::filesystem::temp_directory_path() /
           ("tgenerator-stamp-" + std::to_string(::getuid()));
  }());
  return stamps.Take();
}

}  // namespace tgen
