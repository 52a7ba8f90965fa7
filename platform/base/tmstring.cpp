#include "platform/base/tmstring.h"

#include <algorithm>
#include <ostream>

namespace tgen {

void TmString::assign(std::string_view text) {
  length_ = static_cast<std::uint8_t>(std::min(text.size(), MaxLength));
  std::copy_n(text.data(), length_, chars_.data());
}

TmString& TmString::operator+=(std::string_view text) {
  const std::size_t room = MaxLength - length_;
  const std::size_t n = std::min(text.size(), room);
  std::copy_n(text.data(), n, chars_.data() + length_);
  length_ = static_cast<std::uint8_t>(length_ + n);
  return *this;
}

std::ostream& operator<<(std::ostream& out, const TmString& text) {
  return out << text.view();
}

namespace {

// Only the ASCII letters fold; Cyrillic and every other byte compare by their code.
int FoldedCode(char c) {
  const auto code = static_cast<unsigned char>(c);
  return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int diff = FoldedCode(a[i]) - FoldedCode(b[i]);
    if (diff != 0) return diff;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace tgen
