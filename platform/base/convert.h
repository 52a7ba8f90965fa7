// Conversions between texts and numbers, and the trimming of texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/exception.h"

namespace tgen {

// Reads a decimal integer: an optional sign and one or more digits, nothing else, within the
// range of a 32-bit integer. Otherwise throws EConvertError
// "'TEXT' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// The shortest text that reads back as exactly `number`: "42" for a whole number, "0.1",
// "1e+20". Stored numbers are written and shown with it.
std::string FormatNumber(double number);

// `text` without the blanks (spaces, tabs, line ends) at either end.
std::string Trim(std::string_view text);

// The decimal text `n` above `digits` (below, for a negative `n`), of the same width ("0099",
// 1 -> "0100"); nothing when `digits` is empty or holds anything but the digits 0-9, or when
// the result would not fit the width or be negative.
std::optional<std::string> AddDecimal(std::string_view digits, std::int64_t n);

}  // namespace tgen
