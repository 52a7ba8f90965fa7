#include "platform/base/convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tgen {
namespace {

TEST(StrToInt, ReadsDecimalIntegersOnly) {
  const std::vector<std::pair<std::string, std::int32_t>> good = {
      {"0", 0}, {"41005", 41005}, {"007", 7}, {"-12", -12}, {"+5", 5}, {"2147483647", INT32_MAX}};
  for (const auto& [text, value] : good)
    EXPECT_EQ(StrToInt(text), value) << text;

  for (const std::string text : {"", "-", "+", "+-5", "12a", " 12", "12 ", "1.5", "$1F", "0x10",
                                 "2147483648", "9999999999"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + text + "' is not a valid integer value");
    }
  }
}

TEST(FormatNumber, ShortestTextThatReadsBackExactly) {
  const std::vector<std::pair<double, std::string>> cases = {
      {0, "0"}, {42, "42"}, {-3, "-3"}, {0.1, "0.1"}, {1e20, "1e+20"}, {2147483647, "2147483647"}};
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(FormatNumber(number), text);
    EXPECT_EQ(std::stod(FormatNumber(number)), number);
  }
}

TEST(AddDecimal, StepsFixedWidthDigitsAndRefusesTheRest) {
  const struct {
    std::string digits;
    std::int64_t n;
    std::string sum;  // empty: refused
  } cases[] = {
      {"0", 1, "1"},
      {"0099", 1, "0100"},
      {"1299", 1, "1300"},
      {"9", 1, ""},
      {"999", 1, ""},
      {"", 1, ""},
      {"1a", 1, ""},
      {" 1", 1, ""},
      {"-1", 1, ""},
      {"0100", -1, "0099"},
      {"0100", -100, "0000"},
      {"0100", -101, ""},
      {"0000", 250, "0250"},
      {"9900", 99, "9999"},
      {"9900", 100, ""},
      {"99999999999999999990", 9, "99999999999999999999"},  // wider than 64 bits
  };
  for (const auto& c : cases)
    EXPECT_EQ(AddDecimal(c.digits, c.n).value_or(""), c.sum) << c.digits << " + " << c.n;
}

TEST(Trim, DropsBlanksAtBothEnds) {
  EXPECT_EQ(Trim("  a b\t\r\n"), "a b");
  EXPECT_EQ(Trim(" \n "), "");
  EXPECT_EQ(Trim("x"), "x");
}

}  // namespace
}  // namespace tgen
