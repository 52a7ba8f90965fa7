// Periods in keys: the '@' places of a mask filled from a date, so that each period (a year, a
// month, a fiscal year) is a sequence of its own. A format is written with the tokens YYYY and
// YY (the year), MM (the month), DD (the day), Q (the quarter of the calendar year, 1-4), BBBB
// and BB (the year in which the fiscal year begins) and EEEE and EE (the year in which it ends);
// characters that are not letters stand as written, and any other letter is refused.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace tgen {

using TDate = std::chrono::year_month_day;

// How many characters `format` writes; Exception (kBadInput) for a letter that is no token.
int PeriodLength(std::string_view format);
// The text of `format` for `date`, the fiscal year beginning in month `fiscal_start` (1-12).
std::string FormatPeriod(std::string_view format, TDate date, int fiscal_start);
// Today, in the process's local time zone, by the installed clock.
TDate Today();
// A date written YYYY-MM-DD; Exception (kBadInput) for anything else.
TDate ParseDate(std::string_view text);

}  // namespace tgen
