#include "platform/base/charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <functional>
#include <memory>

namespace tgen {

namespace {

// `value` in `width` or more hexadecimal digits.
std::string Hex(unsigned long value, std::size_t width) {
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[value % 16]);
    value /= 16;
  } while (value != 0);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

bool IsUtf8(std::string_view charset) {
  return charset == "UTF-8" || charset == "UTF8";
}

// What stands at byte `at` of `text` in `charset`, for a message: the character and its
// place in characters (a UTF-8 text), or the byte and its place.
std::string Describe(std::string_view text, std::size_t at, const char* charset) {
  if (IsUtf8(charset)) {
    std::size_t position = 1;
    for (std::size_t i = 0; i < at; ++i)
      position += (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80 ? 0 : 1;
    // Named by its code point: the message itself goes out as Windows-1251 text.
    const auto lead = static_cast<unsigned char>(text[at]);
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    unsigned long code = more == 0 ? lead : lead & (0x3FU >> more);
    for (int i = 1; i <= more && at + i < text.size(); ++i)
      code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3FU);
    return "the character U+" + Hex(code, 4) + " at position " + std::to_string(position);
  }
  return "the byte 0x" + Hex(static_cast<unsigned char>(text[at]), 2) + " at position " +
         std::to_string(at + 1);
}

}  // namespace

std::string LocaleCharset() {
  const std::string charset = nl_langinfo(CODESET);
  return charset == "ANSI_X3.4-1968" ? std::string() : charset;
}

TCharsetConverter::TCharsetConverter(const char* from, const char* to) : from_(from), to_(to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT: iconv's own failure value
    throw EConvertError(std::string("cannot convert text from ") + from + " to " + to);
  }
  cd_ = std::shared_ptr<void>(cd, [](void* d) { iconv_close(static_cast<iconv_t>(d)); });
  // The wide and seven-bit encodings write ASCII otherwise.
  for (const std::string& name : {from_, to_}) {
    std::string upper;
    for (const char c : name)
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* wide : {"16", "32", "UCS", "UTF-7", "UTF7"})
      keeps_ascii_ = keeps_ascii_ && upper.find(wide) == std::string::npos;
  }
}

std::string TCharsetConverter::Run(std::string_view text,
                                   const std::function<std::string(std::size_t)>& bad) {
  // Text in ASCII is the same in every charset that keeps ASCII as it is: most keys, numbers
  // and time stamps, a million rows of them on their way to a file.
  if (keeps_ascii_ && std::all_of(text.begin(), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::string(text);
  }
  std::string out;
  auto* const cd = static_cast<iconv_t>(cd_.get());
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // from the initial state
  char* in_ptr = const_cast<char*>(text.data());  // NOLINT: iconv's signature; not written
  std::size_t in_left = text.size();
  std::array<char, 4096> chunk{};
  while (in_left > 0) {
    char* out_ptr = chunk.data();
    std::size_t out_left = chunk.size();
    const std::size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(chunk.data(), chunk.size() - out_left);
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += bad(static_cast<std::size_t>(in_ptr - text.data()));
      ++in_ptr;  // past the byte that has no place
      --in_left;
    }
  }
  return out;
}

std::string TCharsetConverter::Convert(std::string_view text, std::string_view what) {
  return Run(text, [&](std::size_t at) -> std::string {
    throw EConvertError(std::string(what) + ": " + Describe(text, at, from_.c_str()) +
                        " has no place in " + (to_ == kTableCharset ? "Windows-1251" : to_));
  });
}

std::string TCharsetConverter::ConvertLossy(std::string_view text, std::string_view replacement) {
  return Run(text, [&](std::size_t) { return std::string(replacement); });
}

std::string ConvertText(std::string_view text, const char* from, const char* to,
                        std::string_view what) {
  return TCharsetConverter(from, to).Convert(text, what);
}

TCharsetOutBuf::TCharsetOutBuf(std::streambuf* target, const std::string& charset)
    : target_(target), converter_(kTableCharset, charset.c_str()) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

TCharsetOutBuf::~TCharsetOutBuf() {
  Flush();
}

bool TCharsetOutBuf::Flush() {
  const std::string_view bytes(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  const std::string text = converter_.ConvertLossy(bytes, "?");
  const auto size = static_cast<std::streamsize>(text.size());
  return target_->sputn(text.data(), size) == size;
}

TCharsetOutBuf::int_type TCharsetOutBuf::overflow(int_type c) {
  if (!Flush()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

int TCharsetOutBuf::sync() {
  return Flush() && target_->pubsync() == 0 ? 0 : -1;
}

}  // namespace tgen
