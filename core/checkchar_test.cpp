#include "core/checkchar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/exception.h"

namespace tgen {
namespace {

using enum TCheckMethod;

TEST(CheckCharacters, KnownVectorsAndTheReadingOfLetters) {
  struct Case {
    TCheckMethod method;
    std::string key, check;
  };
  const std::vector<Case> cases = {
      {cmLuhn, "7992739871", "3"},
      {cmDamm, "572", "4"},
      {cmMod97, "794", "44"},
      {cmMod37, "A12425GABC1234002", "M"},
      {cmNone, "INV-0001", ""},
      // Letters read as 10 to 35 whatever their case; other characters are skipped.
      {cmMod97, "INV-2026/0001", CheckCharacters(cmMod97, "inv20260001")},
      {cmLuhn, "A-1", CheckCharacters(cmLuhn, "101")},
      {cmMod37, "a12425gabc1234002", "M"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckCharacters(c.method, c.key), c.check) << c.key;
    EXPECT_TRUE(VerifyCheck(c.method, c.key + c.check)) << c.key;
  }
  try {
    static_cast<void>(CheckCharacters(cmLuhn,
                                      "K-\xDF"
                                      "1"));
    ADD_FAILURE() << "a Cyrillic letter was checked";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::kBadInput);
    EXPECT_NE(e.Message().find("position 3"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(VerifyCheck(cmMod97, "4"));  // too short to hold the check
  EXPECT_FALSE(VerifyCheck(cmLuhn,
                           "\xDF"
                           "1"));  // cannot be checked
}

TEST(CreditorReference, MadeFromTheKeysLettersAndDigits) {
  EXPECT_EQ(CreditorReference("539007547034"), "RF18539007547034");
  EXPECT_EQ(CreditorReference("539007547034", true), "RF18 5390 0754 7034");
  EXPECT_EQ(CreditorReference("inv-2026/0017"), CreditorReference("INV20260017"));
  for (const std::string& bad : std::vector<std::string>{"", "--", std::string(22, '1'), "\xC0-1"})
    EXPECT_THROW(static_cast<void>(CreditorReference(bad)), Exception) << bad;
  // A reference checks itself: MOD 97-10 over it, "RF" and its digits moved to the end, is 1.
  const std::string ref = CreditorReference("INV20260017");
  EXPECT_TRUE(VerifyCheck(TCheckMethod::cmMod97, ref.substr(4) + "RF" + ref.substr(2, 2)));
}

// In keys of digits every change of one character, and every swap of two neighbours that
// changes the key, is caught by MOD 97-10, MOD 37-36 and Damm; Luhn misses only the swap of 0
// and 9. In keys with letters only MOD 37-36, which reads a letter as one symbol, catches all.
TEST(CheckCharacters, TypingErrorsAreCaught) {
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (const TCheckMethod method : {cmMod97, cmMod37, cmDamm, cmLuhn}) {
    const bool letters = method == cmMod37;  // the others read letters as two digits
    const std::string& chars = letters ? alphabet : alphabet.substr(0, 10);
    const std::vector<std::string> keys =
        letters ? std::vector<std::string>{"20260017", "INV2026A17", "QWERTY9"}
                : std::vector<std::string>{"20260017", "0908", "1234567"};
    for (const std::string& key : keys) {
      const std::string checked = key + CheckCharacters(method, key);
      for (std::size_t i = 0; i < key.size(); ++i) {
        for (const char c : chars) {
          std::string typo = checked;
          if (typo[i] == c) continue;
          typo[i] = c;
          EXPECT_FALSE(VerifyCheck(method, typo)) << static_cast<int>(method) << " " << typo;
        }
        if (i + 1 == key.size() || key[i] == key[i + 1]) continue;
        std::string swapped = checked;
        std::swap(swapped[i], swapped[i + 1]);
        const bool luhn_blind =
            (key[i] == '0' && key[i + 1] == '9') || (key[i] == '9' && key[i + 1] == '0');
        EXPECT_EQ(VerifyCheck(method, swapped), method == cmLuhn && luhn_blind)
            << static_cast<int>(method) << " " << swapped;
      }
    }
  }
}

}  // namespace
}  // namespace tgen
