// Text between character sets: the Windows-1251 bytes that tables hold, and the user's (the
// locale's) or a file's encoding, with iconv.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>

#include "platform/base/exception.h"

namespace tgen {

// The character set tables hold, as iconv names it.
inline constexpr const char* kTableCharset = "CP1251";

// The character set of the user's locale (LC_CTYPE, after setlocale(LC_CTYPE, "")), as iconv
// names it; empty for the C and POSIX locales, whose text is taken as bytes.
std::string LocaleCharset();

// A conversion from one character set to another, opened once for any number of texts. Used
// by one thread at a time.
class TCharsetConverter {
 public:
  // EConvertError when iconv knows no such conversion.
  TCharsetConverter(const char* from, const char* to);

  // `text` converted. A character `to` has no place for throws EConvertError naming `what`,
  // the character (or byte) and its position, counted in characters from 1.
  std::string Convert(std::string_view text, std::string_view what);
  // `text` converted, each byte that has no place in `to` written as `replacement`.
  std::string ConvertLossy(std::string_view text, std::string_view replacement);

 private:
  // Converts `text`, calling `bad` with the place of each byte that has no place in `to`: what
  // it returns is written there, and the conversion goes on after that byte.
  std::string Run(std::string_view text, const std::function<std::string(std::size_t)>& bad);

  std::string from_;
  std::string to_;
  std::shared_ptr<void> cd_;  // the iconv descriptor
  bool keeps_ascii_ = true;   // both charsets write ASCII as ASCII
};

// `text` converted from `from` to `to`, as TCharsetConverter::Convert does.
std::string ConvertText(std::string_view text, const char* from, const char* to,
                        std::string_view what);

// An output buffer that writes what it is given, Windows-1251 bytes, to `target` in `charset`.
// A byte without a character (0x98) is written as '?'. Nothing is lost at a buffer's edge:
// every Windows-1251 character is one byte.
class TCharsetOutBuf : public std::streambuf {
 public:
  TCharsetOutBuf(std::streambuf* target, const std::string& charset);
  TCharsetOutBuf(const TCharsetOutBuf&) = delete;
  TCharsetOutBuf& operator=(const TCharsetOutBuf&) = delete;
  ~TCharsetOutBuf() override;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Flush();

  std::streambuf* target_;
  TCharsetConverter converter_;
  std::array<char, 4096> buffer_{};
};

}  // namespace tgen
