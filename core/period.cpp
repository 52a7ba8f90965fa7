#include "core/period.h"

#include <array>

#include "platform/base/clock.h"
#include "platform/base/exception.h"

namespace tgen {

namespace {

// The tokens, longest first where one begins another.
constexpr std::array<std::string_view, 9> kTokens = {"YYYY", "YY", "MM",   "DD", "Q",
                                                     "BBBB", "BB", "EEEE", "EE"};

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0xC0;
}

// The token at `at`, or nothing for a character that stands as written. Exception for a letter
// that begins no token.
std::string_view TokenAt(std::string_view format, std::size_t at) {
  for (const std::string_view token : kTokens) {
    if (format.substr(at, token.size()) == token) return token;
  }
  if (IsLetter(format[at])) {
    throw Exception("the period format '" + std::string(format) + "' holds '" +
                        std::string(1, format[at]) + "' at position " + std::to_string(at + 1) +
                        ", which is no token (YYYY, YY, MM, DD, Q, BBBB, BB, EEEE, EE)",
                    TErrorKind::kBadInput);
  }
  return {};
}

std::string Digits(int value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text.substr(text.size() - width);  // YY: the last two digits
}

// The number the digits text[at, at + n) write, or -1 when one is no digit.
int Number(std::string_view text, std::size_t at, std::size_t n) {
  int value = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

int PeriodLength(std::string_view format) {
  int length = 0;
  for (std::size_t at = 0; at < format.size();) {
    const std::string_view token = TokenAt(format, at);
    const std::size_t width = token.empty() ? 1 : token.size();
    length += static_cast<int>(width);
    at += width;
  }
  return length;
}

std::string FormatPeriod(std::string_view format, TDate date, int fiscal_start) {
  const int year = static_cast<int>(date.year());
  const auto month = static_cast<int>(static_cast<unsigned>(date.month()));
  const auto day = static_cast<int>(static_cast<unsigned>(date.day()));
  // The fiscal year begins in the year whose month `fiscal_start` it began in, and ends in the
  // next one unless it is the calendar year.
  const int begins = month >= fiscal_start ? year : year - 1;
  const int ends = fiscal_start == 1 ? begins : begins + 1;
  std::string text;
  for (std::size_t at = 0; at < format.size();) {
    const std::string_view token = TokenAt(format, at);
    if (token.empty()) {
      text += format[at++];
      continue;
    }
    at += token.size();
    const char kind = token[0];
    const int value = kind == 'Y'   ? year
                      : kind == 'M' ? month
                      : kind == 'D' ? day
                      : kind == 'Q' ? (month - 1) / 3 + 1
                      : kind == 'B' ? begins
                                    : ends;
    text += Digits(value, token.size());
  }
  return text;
}

TDate Today() {
  const TLocalTime now = DecodeLocal(Now());
  return TDate{std::chrono::year(now.Year), std::chrono::month(now.Month),
               std::chrono::day(now.Day)};
}

TDate ParseDate(std::string_view text) {
  const bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-';
  const int y = shaped ? Number(text, 0, 4) : -1;
  const int m = shaped ? Number(text, 5, 2) : -1;
  const int d = shaped ? Number(text, 8, 2) : -1;
  const TDate date{std::chrono::year(y), std::chrono::month(static_cast<unsigned>(m)),
                   std::chrono::day(static_cast<unsigned>(d))};
  if (y < 0 || m < 0 || d < 0 || !date.ok()) {
    throw Exception("'" + std::string(text) + "' is no date written YYYY-MM-DD",
                    TErrorKind::kBadInput);
  }
  return date;
}

}  // namespace tgen
