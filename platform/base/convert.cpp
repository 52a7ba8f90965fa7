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

std::optional<std::string> AddDecimal(std::string_view digits, std::int64_t n) {
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  // Digit by digit from the right, so that widths beyond 64-bit numbers work too.
  std::string result(digits);
  const int sign = n < 0 ? -1 : 1;
  // The magnitude of n, as decimal digits (the most negative value has no positive twin).
  std::string amount = std::to_string(n);
  if (sign < 0) amount.erase(0, 1);
  int carry = 0;
  auto a = amount.rbegin();
  for (auto it = result.rbegin(); it != result.rend(); ++it) {
    const int add = a != amount.rend() ? *a++ - '0' : 0;
    int digit = *it - '0' + sign * (add + carry);
    carry = 0;
    if (digit > 9) {
      digit -= 10;
      carry = 1;
    } else if (digit < 0) {
      digit += 10;
      carry = 1;
    }
    *it = static_cast<char>('0' + digit);
  }
  if (carry != 0 || a != amount.rend()) return std::nullopt;  // past the width, or below zero
  return result;
}

}  // namespace tgen
