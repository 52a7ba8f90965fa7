#include "core/period.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/exception.h"

namespace tgen {
namespace {

TDate D(int y, unsigned m, unsigned d) {
  return TDate{std::chrono::year(y), std::chrono::month(m), std::chrono::day(d)};
}

TEST(Period, TokensAcrossTheTurnOfTheYearAndOfTheFiscalYear) {
  struct Case {
    const char* format;
    TDate date;
    int fiscal_start;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"YYYY", D(2026, 12, 31), 1, "2026"},
      {"YYYY", D(2027, 1, 1), 1, "2027"},
      {"YY-MM-DD", D(2027, 1, 1), 1, "27-01-01"},
      {"QYY", D(2026, 3, 31), 1, "126"},
      {"QYY", D(2026, 10, 1), 1, "426"},
      {"BBBB/EE", D(2026, 12, 31), 1, "2026/26"},  // a calendar fiscal year ends where it began
      {"BB-EE", D(2026, 3, 31), 4, "25-26"},       // April to March
      {"BB-EE", D(2026, 4, 1), 4, "26-27"},
      {"BBBB", D(2026, 6, 30), 7, "2025"},  // July to June
      {"EEEE", D(2026, 7, 1), 7, "2027"},
      {"FY EE", D(2099, 12, 31), 1, ""},  // refused: F is no token
      {"yyyy", D(2026, 1, 1), 1, ""},     // tokens are capitals
  };
  for (const Case& c : cases) {
    if (*c.text == '\0') {
      EXPECT_THROW(static_cast<void>(PeriodLength(c.format)), Exception) << c.format;
      continue;
    }
    EXPECT_EQ(FormatPeriod(c.format, c.date, c.fiscal_start), c.text) << c.format;
    EXPECT_EQ(PeriodLength(c.format), static_cast<int>(std::string(c.text).size())) << c.format;
  }
}

}  // namespace
}  // namespace tgen
