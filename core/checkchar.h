// Check characters appended to keys, so that a mistyped key is caught when it is read back.
//
// A check covers the ASCII letters and digits of the whole key, in order, every other character
// skipped; letters count without regard to case as 10 to 35 (A to Z, as IBANs read them).
// Luhn and Damm append one digit, computed over the digit string that this reading makes
// (letters as their two digits); ISO 7064 MOD 97-10 appends two digits over the same string;
// ISO 7064 MOD 37-36 (the hybrid system) appends one character, 0-9 or A-Z, over the letters
// and digits themselves. A key holding a letter outside A-Z (a Cyrillic letter, say) cannot be
// checked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tgen {

enum class TCheckMethod : std::uint8_t { cmNone, cmLuhn, cmMod97, cmMod37, cmDamm };

// The methods by the names the tools take, in the order of TCheckMethod.
inline constexpr std::array<const char*, 5> kCheckNames = {"none", "luhn", "mod97", "mod37",
                                                           "damm"};
// The method named `name`, one of kCheckNames; Exception (kBadInput) for another.
TCheckMethod CheckMethodOf(std::string_view name);

// How many characters `method` appends.
std::size_t CheckLength(TCheckMethod method);
// The check characters of `key` ("" for cmNone). Exception (kBadInput) when the key holds a
// letter that a check cannot cover, naming it and its position.
std::string CheckCharacters(TCheckMethod method, std::string_view key);
// Whether `checked`, a key followed by its check characters, is right. False when it is too
// short to hold them, or holds a letter a check cannot cover.
bool VerifyCheck(TCheckMethod method, std::string_view checked);

// The creditor reference of ISO 11649 made from `key`: "RF", two check digits (MOD 97-10 over
// the reference followed by "RF00") and the key's letters and digits, letters in capitals.
// `grouped`: in groups of four, separated by blanks, as printed on a payment slip. Exception
// (kBadInput) when the key has no letter or digit, more than 21, or a letter outside A-Z.
std::string CreditorReference(std::string_view key, bool grouped = false);

}  // namespace tgen
