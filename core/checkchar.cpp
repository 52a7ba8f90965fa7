#include "core/checkchar.h"

#include <array>

#include "platform/base/exception.h"

namespace tgen {

namespace {

// The values 0 to 35 of the key's letters and digits, in order; others skipped.
std::string Values(std::string_view key) {
  std::string values;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (c >= '0' && c <= '9') {
      values += static_cast<char>(c - '0');
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      values += static_cast<char>((c | 0x20) - 'a' + 10);
    } else if (c >= 0xC0) {  // a letter of Windows-1251's Cyrillic block
      throw Exception("the key '" + std::string(key) + "' holds the letter '" +
                          std::string(1, key[i]) + "' at position " + std::to_string(i + 1) +
                          ", which no check can cover: only the letters A to Z and digits",
                      TErrorKind::kBadInput);
    }
  }
  return values;
}

// The digit string of those values: a letter as its two digits.
std::string Digits(const std::string& values) {
  std::string digits;
  for (const char v : values) {
    if (v >= 10) digits += static_cast<char>('0' + v / 10);
    digits += static_cast<char>('0' + v % 10);
  }
  return digits;
}

char Luhn(const std::string& digits) {
  int sum = 0;
  bool twice = true;  // the rightmost digit of the key is doubled: the check comes after it
  for (auto it = digits.rbegin(); it != digits.rend(); ++it, twice = !twice) {
    int d = *it - '0';
    if (twice) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char Damm(const std::string& digits) {
  static constexpr std::array<std::array<int, 10>, 10> kTable = {{
      {0, 3, 1, 7, 5, 9, 8, 6, 4, 2},
      {7, 0, 9, 2, 1, 5, 4, 8, 6, 3},
      {4, 2, 0, 6, 8, 7, 1, 3, 5, 9},
      {1, 7, 5, 0, 9, 8, 3, 4, 2, 6},
      {6, 1, 2, 3, 0, 4, 5, 9, 7, 8},
      {3, 6, 7, 4, 2, 0, 9, 5, 8, 1},
      {5, 8, 6, 9, 7, 2, 0, 1, 3, 4},
      {8, 9, 4, 5, 3, 6, 2, 0, 1, 7},
      {9, 4, 3, 8, 6, 1, 7, 2, 0, 5},
      {2, 5, 8, 1, 4, 3, 6, 7, 9, 0},
  }};
  int interim = 0;
  for (const char c : digits)
    interim = kTable.at(static_cast<std::size_t>(interim)).at(static_cast<std::size_t>(c - '0'));
  return static_cast<char>('0' + interim);
}

std::string Mod97(const std::string& digits) {
  int remainder = 0;
  for (const char c : digits)
    remainder = (remainder * 10 + (c - '0')) % 97;
  const int check = 98 - (remainder * 100) % 97;
  return {static_cast<char>('0' + check / 10), static_cast<char>('0' + check % 10)};
}

char Mod37(const std::string& values) {
  constexpr int kM = 36;
  int p = kM;
  for (const char v : values) {
    int s = (p + v) % kM;
    if (s == 0) s = kM;
    p = (s * 2) % (kM + 1);
  }
  const int check = (kM + 1 - p) % kM;
  return static_cast<char>(check < 10 ? '0' + check : 'A' + check - 10);
}

}  // namespace

TCheckMethod CheckMethodOf(std::string_view name) {
  for (std::size_t i = 0; i < kCheckNames.size(); ++i) {
    if (name == kCheckNames.at(i)) return static_cast<TCheckMethod>(i);
  }
  throw Exception("'" + std::string(name) + "' is no check method (none, luhn, mod97, mod37, damm)",
                  TErrorKind::kBadInput);
}

std::size_t CheckLength(TCheckMethod method) {
  switch (method) {
    case TCheckMethod::cmNone:
      return 0;
    case TCheckMethod::cmMod97:
      return 2;
    default:
      return 1;
  }
}

std::string CheckCharacters(TCheckMethod method, std::string_view key) {
  if (method == TCheckMethod::cmNone) return {};
  const std::string values = Values(key);
  switch (method) {
    case TCheckMethod::cmLuhn:
      return {Luhn(Digits(values))};
    case TCheckMethod::cmDamm:
      return {Damm(Digits(values))};
    case TCheckMethod::cmMod97:
      return Mod97(Digits(values));
    default:
      return {Mod37(values)};
  }
}

std::string CreditorReference(std::string_view key, bool grouped) {
  const std::string values = Values(key);
  if (values.empty() || values.size() > 21) {
    throw Exception("a creditor reference holds 1 to 21 letters and digits; the key '" +
                        std::string(key) + "' has " + std::to_string(values.size()),
                    TErrorKind::kBadInput);
  }
  std::string reference;
  for (const char v : values)
    reference += static_cast<char>(v < 10 ? '0' + v : 'A' + v - 10);
  // MOD 97-10 over the reference, then "RF00" (R = 27, F = 15).
  const std::string check = Mod97(Digits(values) + "2715");
  std::string whole = "RF" + check + reference;
  if (!grouped) return whole;
  std::string spaced;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && i % 4 == 0) spaced += ' ';
    spaced += whole[i];
  }
  return spaced;
}

bool VerifyCheck(TCheckMethod method, std::string_view checked) {
  const std::size_t n = CheckLength(method);
  if (checked.size() < n) return false;
  try {
    const std::string_view key = checked.substr(0, checked.size() - n);
    const std::string_view check = checked.substr(checked.size() - n);
    const std::string want = CheckCharacters(method, key);
    // MOD 37-36 answers with a capital; a check typed small is read the same.
    if (want.size() != check.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i) {
      const auto a = static_cast<unsigned char>(want[i]);
      const auto b = static_cast<unsigned char>(check[i]);
      if (a != b && !(a >= 'A' && a <= 'Z' && b == (a | 0x20))) return false;
    }
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace tgen
