// The mask engine: parses a mask, holds one sequence's current value, steps it between its
// bounds, checks texts against the mask and reads the value out whole or in parts.
//
// A mask is read left to right; each character outside brackets makes one element:
//   "[...]"  a character from an enumerated set (steps through its members in written order)
//   "#"      an incremental digit            0..9
//   "$"      an incremental letter           A..Z, a..z, 0xC0..0xDF or 0xE0..0xFF
//   "&"      an incremental digit or letter  0..9 then A..Z
//   "@"      a user-procedure place, filled by OnGetPROC
//   other    a static character
// The sets and incremental places form the suffix, the counting part, a mixed-radix counter
// whose lowest place is the last one; the static and user-procedure places form the prefix.
//
// Not synchronised: a TGenMask is used from its owner's thread, and every handler runs inside
// the call that raises it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/convert.h"
#include "platform/base/tmstring.h"
#include "platform/model/method.h"
#include "platform/model/object.h"

namespace tgen {

// The kind of a mask element. OTHER is never produced; NONE marks a table entry in no use.
enum class tType : std::uint8_t { STAT, ENUMS, INC, PROC, OTHER, NONE };

// The alphabet of an incremental place.
enum class incType : std::uint8_t { INCNONE, INCNUM, INCCHAR, INCBOTH };

// Event and handler types; Sender is always the object that raises the event.
using TGenProcEvent = TMethodRef<void(TObject* Sender, TmString& Preff)>;
using TGOverFlowEvent = TMethodRef<void(TObject* Sender, TmString ovSuffix)>;
using TOnNewRecord = TMethodRef<void(TObject* Sender, TmString& nvSuffix)>;
using TOnErrorMask = TMethodRef<void(TObject* Sender, int Position, std::string_view TypeS)>;

// One entry of the element table.
struct TMskElement {
  std::int32_t Pos = 0;    // offset in the mask text of the symbol (of "[" for a set)
  std::int32_t Index = 0;  // position in Chars of the current character; 0 but for sets
  tType Kind = tType::NONE;
  incType IncKind = incType::INCNONE;
  std::string Chars;  // the members of a set; the one current character of any other kind

  [[nodiscard]] char Current() const { return Chars[static_cast<std::size_t>(Index)]; }
  [[nodiscard]] bool IsSuffix() const { return Kind == tType::INC || Kind == tType::ENUMS; }
  [[nodiscard]] bool IsPrefix() const { return Kind == tType::STAT || Kind == tType::PROC; }
};

class TGenMask : public TObject {
 public:
  static constexpr int MaxElements = 101;
  static constexpr std::size_t MaxMaskLength = 255;

  TGenMask() = default;

  // Handler slots, filled directly by the owner; an unassigned one is skipped.
  TGenProcEvent OnGetPROC;      // supplies the user-procedure characters
  TGOverFlowEvent OnOverFlow;   // the value ran past its end; without it the value restarts
  TGOverFlowEvent OnUnderFlow;  // the value ran below its start; without it the value wraps
  TOnErrorMask OnErrorMask;     // a position does not fit; without it a message box is shown

  // Parses `Mask` (up to its first zero byte) into the element table. Throws Exception for a
  // set with a "[" inside, a set that is not closed, an empty set "[]", a mask text longer
  // than 255 characters and a mask of more than 101 elements; the table is then empty
  // (Count() 0). The bounds and handlers are kept either way.
  virtual void ScanMask(std::string_view Mask);

  // Puts the suffix on StartValue, or on the first value when there is no StartValue.
  virtual void NullValue();
  // Steps the suffix up by one. Past EndValue, or when every place wrapped, tells OnOverFlow
  // (the value stays where the step left it) or, without a handler, calls NullValue.
  virtual void Increment();
  // Steps the suffix down by one. At StartValue tells OnUnderFlow or wraps to EndValue (to the
  // counter's last value when there is no EndValue); below the first value tells OnUnderFlow
  // or calls NullValue.
  virtual void Decrement();
  // True when `S` fits the suffix places, one character each. Every position that does not
  // fit, a missing one included, is reported to OnErrorMask or in a "TGenMask" message box.
  // A mask without suffix places fits nothing and reports nothing.
  virtual bool Validate(const TmString& S);
  // Why Validate would refuse `S`, without reporting anything: "position 2 is not a digit",
  // "'Q' at position 1 is not in the set XYZ", ...; empty when it would accept it.
  [[nodiscard]] std::string ValidateProblem(const TmString& S) const;
  // True when `S` has exactly one character for each suffix place and each fits; reports
  // nothing.
  [[nodiscard]] bool Fits(const TmString& S) const;

  // The characters each counting place steps through, in order, when every place counts as a
  // plain counter whose characters sort as they count: digits, '&' over the digits and the
  // capitals A-Z, '$' over A-Z, a set of ASCII members in ascending order. A suffix of those
  // characters then steps as a number in those places (AddInAlphabets), and compares as its
  // text, so that a store can step it itself. Nothing for any other counting part.
  [[nodiscard]] const std::optional<TAlphabets>& SuffixAlphabets() const {
    return suffix_alphabets_;
  }
  // Why a generator must not draw from this mask, whose keys would then repeat: a set that
  // holds a member twice, or keys longer than a TmString holds. Empty when none.
  [[nodiscard]] std::string DrawProblem() const;
  // The counting part at the end of the sequence: EndValue, or else every place at its last
  // character (a letter place within the block of the letter it holds).
  [[nodiscard]] TmString LastSuffix() const;
  // The whole value at the end of the sequence, with the prefix as it stands.
  [[nodiscard]] TmString LastValue() const;
  // The order of two counting parts in the sequence: negative when `A` comes first, 0 when
  // equal, positive when `B` does; nothing when either does not fit or their order cannot be
  // told (letters of two blocks in one place).
  [[nodiscard]] std::optional<int> CompareSuffixes(const TmString& A, const TmString& B) const;

  [[nodiscard]] int Count() const { return count_; }
  // How many user-procedure places ('@') the mask has.
  [[nodiscard]] int ProcCount() const;
  // The whole table; entries from Count() on are not part of the mask.
  [[nodiscard]] const std::array<TMskElement, MaxElements>& Elements() const { return elements_; }
  [[nodiscard]] const TmString& StartValue() const { return start_value_; }
  [[nodiscard]] const TmString& EndValue() const { return end_value_; }

  // Read-outs: the current characters of the elements of one kind, in table order.
  [[nodiscard]] TmString GetSTAT() const;
  [[nodiscard]] TmString GetENUM() const;
  [[nodiscard]] TmString GetINCR() const;
  // The user-procedure characters, after OnGetPROC has had the chance to replace them; the
  // k-th character of its text becomes the k-th user-procedure place's character.
  TmString GetPROC();

  // The whole value.
  [[nodiscard]] TmString GetMskValue() const;
  // The counting part: the characters of the sets and incremental places.
  [[nodiscard]] TmString GetSuffix() const;
  // The fixed part: static and user-procedure characters, the latter refreshed first.
  TmString GetPrefix();
  // The fixed part as it stands, without asking for fresh user-procedure characters.
  [[nodiscard]] TmString CurrentPrefix() const;
  // Loads `S` into the suffix places, one character each, unchecked: an incremental place
  // takes the character as it is, a set its first member equal to it (else its first member).
  // Places beyond the end of `S` keep their characters.
  void SetSuffix(const TmString& S);
  // Loads `S` into the static and user-procedure places in the same way.
  void SetPrefix(const TmString& S);

  // Store a bound; a non-empty bound that does not Validate is reported and dropped. Neither
  // changes the current value.
  void SetStartValue(const TmString& S);
  void SetEndValue(const TmString& S);

 private:
  template <typename Keep>
  [[nodiscard]] TmString Collect(Keep keep) const;
  [[nodiscard]] bool HasSuffixUpTo(int k) const { return k >= first_suffix_; }
  [[nodiscard]] std::optional<TAlphabets> FindSuffixAlphabets() const;
  void ReportOverFlow();
  void WrapToEnd();
  void ReportError(const TMskElement& element, const TmString& text, std::size_t p);

  std::int32_t count_ = 0;
  std::array<TMskElement, MaxElements> elements_{};
  TmString start_value_;
  TmString end_value_;
  int first_suffix_ = MaxElements;  // index of the first suffix element; MaxElements if none
  std::optional<TAlphabets> suffix_alphabets_;  // found by ScanMask (SuffixAlphabets)
};

// "A" to "Z", "a" to "z" and the bytes 0xC0 to 0xFF (the Windows-1251 Cyrillic letters).
bool IsAChar(char c);
// "0" to "9".
bool IsANum(char c);
// Turns every blank of `S` into "0".
void SpcTo0(std::string& S);
void SpcTo0(TmString& S);

}  // namespace tgen
