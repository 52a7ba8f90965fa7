// Conversions of text to numbers, failing with EConvertError.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/base/exception.h"

namespace tgen {

// A text that does not convert; the message quotes the text.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Reads a decimal integer: an optional sign and one or more digits, nothing else, within the
// range of a 32-bit integer. Otherwise throws EConvertError
// "'TEXT' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

}  // namespace tgen
