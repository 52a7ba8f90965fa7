#include "platform/base/convert.h"

#include <array>
#include <charconv>
#include <string>

namespace tgen {

std::int32_t StrToInt(std::string_view text) {
  std::string_view digits = text;
  const bool plus = !digits.empty() && digits.front() == '+';
  if (plus) digits.remove_prefix(1);
  std::int32_t value = 0;
  const char* end = digits.data() + digits.size();
  const bool sign_only = digits.empty() || digits == "-" || (plus && digits.front() == '-');
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (sign_only || ec != std::errc() || ptr != end) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

std::string FormatNumber(double number) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
  return {buffer.data(), result.ptr};
}

std::string Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> NextDecimal(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::string next(digits);
  if (next.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  for (auto it = next.rbegin(); it != next.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return next;
    }
    *it = '0';
  }
  return std::nullopt;  // all nines: no room left
}

}  // namespace tgen
