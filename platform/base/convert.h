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

// The decimal text one above `digits`, of the same width ("0099" -> "0100"); nothing when
// `digits` is empty, holds anything but the digits 0-9, or is all nines.
std::optional<std::string> NextDecimal(std::string_view digits);

}  // namespace tgen
