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

}  // namespace
}  // namespace tgen
