#include "platform/base/convert.h"

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

}  // namespace tgen
