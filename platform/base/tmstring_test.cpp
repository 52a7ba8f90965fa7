#include "platform/base/tmstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tgen {
namespace {

TEST(TmString, KeepsAtMostOneHundredBytes) {
  const std::string long_text = std::string(100, 'x') + "CUT";
  EXPECT_EQ(TmString(long_text).str(), std::string(100, 'x'));
  EXPECT_EQ(TmString(std::string(100, 'y')).size(), 100U);

  TmString t = std::string(99, 'a');
  t.push_back('b');
  t.push_back('c');  // full: ignored
  t += "more";
  EXPECT_EQ(t.size(), 100U);
  EXPECT_EQ(t[99], 'b');

  TmString bytes(std::string("\0\xFF", 2));  // any byte survives
  EXPECT_EQ(bytes.size(), 2U);
  EXPECT_EQ(bytes[1], '\xFF');
}

TEST(CompareText, OrdersAsTheFrameworkDoes) {
  struct Case {
    std::string a, b;
    int sign;
  };
  const std::vector<Case> cases = {
      {"", "", 0},         {"abc", "ABC", 0},                   // ASCII letters fold
      {"A50", "B01", -1},  {"bz", "BZ", 0},   {"B", "b0", -1},  // a beginning is the smaller
      {"ab", "a", 1},      {"_", "a", 1},  // "a" folds to 0x41, below "_" (0x5F)
      {"\xE0", "\xC0", 1},                 // Cyrillic bytes do not fold
      {"\xE0", "z", 1},                    // and compare unsigned
      {"[", "a", 1},
  };
  for (const Case& c : cases) {
    const int r = CompareText(c.a, c.b);
    const int sign = (r > 0) - (r < 0);
    EXPECT_EQ(sign, c.sign) << '"' << c.a << "\" vs \"" << c.b << '"';
    const int back = CompareText(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign);
  }
}

}  // namespace
}  // namespace tgen
