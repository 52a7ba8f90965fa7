// Bounded single-byte text and the framework's text comparison.
//
// TmString holds at most 100 bytes, inline, with no heap allocation: every value, prefix,
// suffix and bound that the mask engine produces is one. Text assigned beyond the 100th byte
// is cut off; appending to a full text does nothing. Bytes are kept as they are (including
// zero bytes and Windows-1251 letters). A TmString is a plain value: copy it freely; it is not
// synchronised, like any other value type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tgen {

class TmString {
 public:
  static constexpr std::size_t MaxLength = 100;

  constexpr TmString() = default;
  // Implicit on purpose: a TmString stands wherever the framework took a short string.
  // cppcheck-suppress noExplicitConstructor
  TmString(std::string_view text) { assign(text); }  // NOLINT(google-explicit-constructor)
  // cppcheck-suppress noExplicitConstructor
  TmString(const char* text) : TmString(std::string_view(text)) {}  // NOLINT
  // cppcheck-suppress noExplicitConstructor
  TmString(const std::string& text) : TmString(std::string_view(text)) {}  // NOLINT

  [[nodiscard]] std::size_t size() const { return length_; }
  [[nodiscard]] bool empty() const { return length_ == 0; }

  // Zero-based; the caller keeps the index below size().
  [[nodiscard]] char operator[](std::size_t i) const { return chars_[i]; }
  char& operator[](std::size_t i) { return chars_[i]; }

  [[nodiscard]] std::string_view view() const { return {chars_.data(), length_}; }
  operator std::string_view() const { return view(); }  // NOLINT(google-explicit-constructor)
  [[nodiscard]] std::string str() const { return std::string(view()); }

  // Replaces the text with the first MaxLength bytes of `text`.
  void assign(std::string_view text);
  // Appends one byte; a full text stays as it is.
  void push_back(char c) {
    if (length_ < MaxLength) chars_[length_++] = c;
  }
  TmString& operator+=(std::string_view text);
  void clear() { length_ = 0; }

  friend bool operator==(const TmString& a, const TmString& b) { return a.view() == b.view(); }
  friend bool operator==(const TmString& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const TmString& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const TmString& a, const char* b) { return a.view() == b; }

 private:
  std::array<char, MaxLength> chars_{};
  std::uint8_t length_ = 0;
};

std::ostream& operator<<(std::ostream& out, const TmString& text);

// Compares two texts position by position, "a" to "z" taken as "A" to "Z" and every other byte
// by its unsigned code; a text that is the beginning of another is the smaller. Returns a
// negative number, zero or a positive number as `a` is below, equal to or above `b`.
int CompareText(std::string_view a, std::string_view b);

}  // namespace tgen
