// Conversions between texts and numbers, and the trimming of texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The places of a counter, each with the characters it counts through, in order.
using TAlphabets = std::vector<std::string>;
// The alphabets of `width` decimal places.
TAlphabets DecimalAlphabets(std::size_t width);
// Whether every place of `alphabets` is decimal.
bool IsDecimal(const TAlphabets& alphabets);

// The text `n` steps above `text` (below, for a negative `n`), each place counting through its
// alphabet and carrying into the place before it ("0Z", 1 -> "10" in 0-9A-Z); nothing when
// `text` is empty, has another number of places, holds a character its place's alphabet lacks,
// or when the result would not fit the width or go below the first value.
std::optional<std::string> AddInAlphabets(std::string_view text, std::int64_t n,
                                          const TAlphabets& alphabets);
// The same for decimal text, of the same width ("0099", 1 -> "0100").
std::optional<std::string> AddDecimal(std::string_view digits, std::int64_t n);

}  // namespace tgen
