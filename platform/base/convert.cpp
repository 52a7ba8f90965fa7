#include "platform/base/convert.h"

#include <algorithm>
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

TAlphabets DecimalAlphabets(std::size_t width) {
  return TAlphabets(width, "0123456789");
}

bool IsDecimal(const TAlphabets& alphabets) {
  return std::all_of(alphabets.begin(), alphabets.end(),
                     [](const std::string& a) { return a == "0123456789"; });
}

std::optional<std::string> AddInAlphabets(std::string_view text, std::int64_t n,
                                          const TAlphabets& alphabets) {
  if (text.empty() || text.size() != alphabets.size()) return std::nullopt;
  std::string result(text);
  const int sign = n < 0 ? -1 : 1;
  // The magnitude of n, taken apart place by place from the right (the most negative n has no
  // positive twin among signed numbers).
  std::uint64_t amount = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  std::int64_t carry = 0;
  for (std::size_t i = result.size(); i-- > 0;) {
    const std::string& alphabet = alphabets[i];
    const std::size_t at = alphabet.find(result[i]);
    if (at == std::string::npos) return std::nullopt;
    const auto radix = static_cast<std::int64_t>(alphabet.size());
    const auto add = static_cast<std::int64_t>(amount % static_cast<std::uint64_t>(radix));
    amount /= static_cast<std::uint64_t>(radix);
    std::int64_t place = static_cast<std::int64_t>(at) + sign * (add + carry);
    carry = 0;
    if (place >= radix) {
      place -= radix;
      carry = 1;
    } else if (place < 0) {
      place += radix;
      carry = 1;
    }
    result[i] = alphabet[static_cast<std::size_t>(place)];
  }
  if (carry != 0 || amount != 0) return std::nullopt;  // past the width, or below the first
  return result;
}

std::optional<std::string> AddDecimal(std::string_view digits, std::int64_t n) {
  return AddInAlphabets(digits, n, DecimalAlphabets(digits.size()));
}

}  // namespace tgen
