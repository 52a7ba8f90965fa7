#include "core/genmask.h"

#include <algorithm>
#include <string>

#include "platform/base/exception.h"
#include "platform/base/notice.h"

namespace tgen {

namespace {

using Byte = unsigned char;

Byte Code(char c) {
  return static_cast<Byte>(c);
}
char Char(int code) {
  return static_cast<char>(static_cast<Byte>(code));
}

[[noreturn]] void ThrowAt(const char* what, std::size_t position) {
  throw Exception(std::string(what) + std::to_string(position) + "!", TErrorKind::kBadInput);
}

// One step up of an incremental place, on unsigned codes (0xFF wraps to 0x00). Returns the
// carry: the place wrapped to the start of its cycle.
bool StepUp(char& c, incType kind) {
  const Byte code = Code(c);
  switch (kind) {
    case incType::INCNUM:
      if (code == '9') {
        c = '0';
        return true;
      }
      break;
    case incType::INCCHAR:
      if (code == 'Z' || code == 'z' || code == 0xDF || code == 0xFF) {
        // Each letter block wraps within itself: Z->A, z->a, 0xDF->0xC0, 0xFF->0xE0.
        c = Char(code == 'Z' || code == 'z' ? code - 25 : code - 31);
        return true;
      }
      break;
    case incType::INCBOTH:
      if (code == '9') {
        c = 'A';
        return false;
      }
      if (code == 'Z' || code == 'z' || code == 0xDF || code == 0xFF) {
        c = '0';
        return true;
      }
      break;
    case incType::INCNONE:
      return true;
  }
  c = Char(code + 1);
  return false;
}

// One step down; returns the borrow.
bool StepDown(char& c, incType kind) {
  const Byte code = Code(c);
  switch (kind) {
    case incType::INCNUM:
      if (code == '0') {
        c = '9';
        return true;
      }
      break;
    case incType::INCCHAR:
      if (code == 'A' || code == 'a' || code == 0xC0 || code == 0xE0) {
        c = Char(code == 'A' || code == 'a' ? code + 25 : code + 31);
        return true;
      }
      break;
    case incType::INCBOTH:
      if (code == 'A' || code == 'a' || code == 0xC0 || code == 0xE0) {
        c = '9';
        return false;
      }
      if (code == '0') {
        c = 'Z';
        return true;
      }
      break;
    case incType::INCNONE:
      return true;
  }
  c = Char(code - 1);
  return false;
}

// The last letter of the block that `c` belongs to; "Z" for anything that is no letter.
char LastOfBlock(char c) {
  const Byte code = Code(c);
  if (code >= 'a' && code <= 'z') return 'z';
  if (code >= 0xC0 && code <= 0xDF) return Char(0xDF);
  if (code >= 0xE0) return Char(0xFF);
  return 'Z';
}

// The last character of an incremental place's cycle, from the character it holds.
char LastOfPlace(const TMskElement& e) {
  return e.IncKind == incType::INCNUM    ? '9'
         : e.IncKind == incType::INCCHAR ? LastOfBlock(e.Current())
                                         : 'Z';
}

// Steps a suffix element; prefix elements are passed over and keep the carry (or borrow) set.
bool StepElement(TMskElement& e, bool up) {
  if (e.Kind == tType::ENUMS) {
    const auto members = static_cast<std::int32_t>(e.Chars.size());
    if (up) {
      if (++e.Index < members) return false;
      e.Index = 0;
    } else {
      if (--e.Index >= 0) return false;
      e.Index = members - 1;
    }
    return true;
  }
  if (e.Kind != tType::INC) return true;
  return up ? StepUp(e.Chars[0], e.IncKind) : StepDown(e.Chars[0], e.IncKind);
}

// Whether `c` fits a suffix element.
bool FitsPlace(const TMskElement& e, char c) {
  if (e.Kind == tType::ENUMS) return e.Chars.find(c) != std::string::npos;
  switch (e.IncKind) {
    case incType::INCNUM:
      return IsANum(c);
    case incType::INCCHAR:
      return IsAChar(c);
    case incType::INCBOTH:
      return IsAChar(c) || IsANum(c);
    case incType::INCNONE:
      break;
  }
  return false;
}

const char* ErrorKind(const TMskElement& e) {
  if (e.Kind == tType::ENUMS) return "ENUM";
  switch (e.IncKind) {
    case incType::INCNUM:
      return "NUM";
    case incType::INCCHAR:
      return "CHAR";
    default:
      return "CHARNUM";
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parsing

void TGenMask::ScanMask(std::string_view Mask) {
  count_ = 0;
  suffix_alphabets_.reset();
  first_suffix_ = MaxElements;

  const std::string_view w = Mask.substr(0, Mask.find('\0'));
  if (w.size() > MaxMaskLength) {
    throw Exception("Mask picture longer than " + std::to_string(MaxMaskLength) + " characters!",
                    TErrorKind::kBadInput);
  }

  // The first suffix mark is set only once the whole mask parsed: a failed parse must leave an
  // engine with no suffix places, which validates nothing.
  int first_suffix = MaxElements;
  int n = 0;
  for (std::size_t i = 0; i < w.size(); ++i, ++n) {
    if (n == MaxElements) ThrowAt("Too many elements in mask picture at position:", i);
    TMskElement& e = elements_[static_cast<std::size_t>(n)];
    const char c = w[i];
    e.Pos = static_cast<std::int32_t>(i);
    e.Index = 0;
    e.IncKind = incType::INCNONE;
    switch (c) {
      case '[': {
        std::size_t j = i + 1;
        for (; j < w.size() && w[j] != ']'; ++j) {
          if (w[j] == '[') ThrowAt("Error in mask picture at position:", j);
        }
        if (j == w.size()) throw Exception("Missing ] symbol in Mask!", TErrorKind::kBadInput);
        // Every set needs a current character.
        if (j == i + 1) ThrowAt("Empty set in mask picture at position:", i);
        e.Kind = tType::ENUMS;
        e.Chars.assign(w.substr(i + 1, j - i - 1));
        i = j;
        break;
      }
      case '#':
      case '$':
      case '&':
        e.Kind = tType::INC;
        e.IncKind = c == '#' ? incType::INCNUM : c == '$' ? incType::INCCHAR : incType::INCBOTH;
        e.Chars.assign(1, c);
        break;
      case '@':
        e.Kind = tType::PROC;
        e.Chars.assign(1, c);
        break;
      default:
        e.Kind = tType::STAT;
        e.Chars.assign(1, c);
        break;
    }
    if (e.IsSuffix() && first_suffix == MaxElements) first_suffix = n;
  }
  count_ = n;
  first_suffix_ = first_suffix;
  suffix_alphabets_ = FindSuffixAlphabets();
}

// ---------------------------------------------------------------------------------------------
// Read-outs

template <typename Keep>
TmString TGenMask::Collect(Keep keep) const {
  TmString text;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (keep(e)) text.push_back(e.Current());
  }
  return text;
}

std::optional<TAlphabets> TGenMask::FindSuffixAlphabets() const {
  static const std::string kDigits = "0123456789";
  static const std::string kCapitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  TAlphabets alphabets;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (!e.IsSuffix()) continue;
    if (e.Kind == tType::ENUMS) {
      const bool ascending = std::adjacent_find(e.Chars.begin(), e.Chars.end(), [](char a, char b) {
                               return a >= b;
                             }) == e.Chars.end();
      const bool ascii = std::all_of(e.Chars.begin(), e.Chars.end(), [](char c) {
        return c > ' ' && static_cast<unsigned char>(c) < 0x7F;
      });
      if (!ascending || !ascii) return std::nullopt;
      alphabets.emplace_back(e.Chars.begin(), e.Chars.end());
    } else {
      alphabets.push_back(e.IncKind == incType::INCNUM    ? kDigits
                          : e.IncKind == incType::INCCHAR ? kCapitals
                                                          : kDigits + kCapitals);
    }
  }
  if (alphabets.empty()) return std::nullopt;
  return alphabets;
}

TmString TGenMask::GetSTAT() const {
  return Collect([](const TMskElement& e) { return e.Kind == tType::STAT; });
}

TmString TGenMask::GetENUM() const {
  return Collect([](const TMskElement& e) { return e.Kind == tType::ENUMS; });
}

TmString TGenMask::GetINCR() const {
  return Collect([](const TMskElement& e) { return e.Kind == tType::INC; });
}

int TGenMask::ProcCount() const {
  return static_cast<int>(
      std::count_if(elements_.begin(), elements_.begin() + count_,
                    [](const TMskElement& e) { return e.Kind == tType::PROC; }));
}

TmString TGenMask::GetPROC() {
  TmString text = Collect([](const TMskElement& e) { return e.Kind == tType::PROC; });
  if (OnGetPROC.Assigned()) OnGetPROC(this, text);
  std::size_t p = 0;
  for (int k = 0; k < count_ && p < text.size(); ++k) {
    TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind == tType::PROC) e.Chars[0] = text[p++];
  }
  return text;
}

TmString TGenMask::GetMskValue() const {
  return Collect([](const TMskElement&) { return true; });
}

TmString TGenMask::GetSuffix() const {
  return Collect([](const TMskElement& e) { return e.IsSuffix(); });
}

TmString TGenMask::GetPrefix() {
  GetPROC();
  return CurrentPrefix();
}

TmString TGenMask::CurrentPrefix() const {
  return Collect([](const TMskElement& e) { return e.IsPrefix(); });
}

// ---------------------------------------------------------------------------------------------
// Loading a value

void TGenMask::SetSuffix(const TmString& S) {
  std::size_t p = 0;
  for (int k = 0; k < count_ && p < S.size(); ++k) {
    TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind == tType::ENUMS) {
      const std::size_t at = e.Chars.find(S[p++]);
      e.Index = at == std::string::npos ? 0 : static_cast<std::int32_t>(at);
    } else if (e.Kind == tType::INC) {
      e.Chars[0] = S[p++];
    }
  }
}

void TGenMask::SetPrefix(const TmString& S) {
  std::size_t p = 0;
  for (int k = 0; k < count_ && p < S.size(); ++k) {
    TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.IsPrefix()) e.Chars[0] = S[p++];
  }
}

void TGenMask::NullValue() {
  if (!start_value_.empty()) {
    SetSuffix(start_value_);
    return;
  }
  for (int k = 0; k < count_; ++k) {
    TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind == tType::ENUMS) {
      e.Index = 0;
    } else if (e.Kind == tType::INC) {
      e.Chars[0] = e.IncKind == incType::INCCHAR ? 'A' : '0';
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Stepping

void TGenMask::Increment() {
  bool carry = true;
  for (int k = count_ - 1; k >= 0 && carry;) {
    carry = StepElement(elements_[static_cast<std::size_t>(k)], true);
    --k;
    // A suffix equal to EndValue is still allowed; the first one above it overflows.
    if (!end_value_.empty() && CompareText(end_value_, GetSuffix()) < 0) {
      ReportOverFlow();
      return;
    }
    if (carry && !HasSuffixUpTo(k)) {
      ReportOverFlow();
      return;
    }
  }
}

void TGenMask::ReportOverFlow() {
  if (OnOverFlow.Assigned()) {
    OnOverFlow(this, GetSuffix());
  } else {
    NullValue();
  }
}

void TGenMask::Decrement() {
  bool borrow = true;
  for (int k = count_ - 1; k >= 0 && borrow;) {
    // Checked before every place, so a borrow chain that passes StartValue stops there too.
    if (!start_value_.empty() && CompareText(start_value_, GetSuffix()) == 0) {
      if (OnUnderFlow.Assigned()) {
        OnUnderFlow(this, GetSuffix());
      } else {
        WrapToEnd();
      }
      return;
    }
    borrow = StepElement(elements_[static_cast<std::size_t>(k)], false);
    --k;
    if (borrow && !HasSuffixUpTo(k)) {
      if (OnUnderFlow.Assigned()) {
        OnUnderFlow(this, GetSuffix());
      } else {
        NullValue();
      }
      return;
    }
  }
}

void TGenMask::WrapToEnd() {
  if (!end_value_.empty()) {
    SetSuffix(end_value_);
    return;
  }
  // The counter's own last value; a set's last place, even when a member repeats.
  for (int k = 0; k < count_; ++k) {
    TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind == tType::ENUMS) {
      e.Index = static_cast<std::int32_t>(e.Chars.size()) - 1;
    } else if (e.Kind == tType::INC) {
      e.Chars[0] = LastOfPlace(e);
    }
  }
}

TmString TGenMask::LastSuffix() const {
  if (!end_value_.empty()) return end_value_;
  // No end given: the counter's own last value.
  TmString last;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind == tType::ENUMS) {
      last.push_back(e.Chars.back());
    } else if (e.Kind == tType::INC) {
      last.push_back(LastOfPlace(e));
    }
  }
  return last;
}

TmString TGenMask::LastValue() const {
  TmString value;
  const TmString last = LastSuffix();
  std::size_t p = 0;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    value.push_back(e.IsSuffix() && p < last.size() ? last[p++] : e.Current());
  }
  return value;
}

std::optional<int> TGenMask::CompareSuffixes(const TmString& A, const TmString& B) const {
  if (!Fits(A) || !Fits(B)) return std::nullopt;
  std::size_t p = 0;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (!e.IsSuffix()) continue;
    const Byte a = Code(A[p]);
    const Byte b = Code(B[p]);
    ++p;
    if (a == b) continue;
    if (e.Kind == tType::ENUMS) {
      // A set steps through its members in written order; the stored character stands for
      // its first member.
      return e.Chars.find(Char(a)) < e.Chars.find(Char(b)) ? -1 : 1;
    }
    // Digits come before letters in a "&" place; letters of two blocks of a "$" place are
    // never one sequence, so their order is unknown.
    if (e.IncKind == incType::INCCHAR && LastOfBlock(Char(a)) != LastOfBlock(Char(b)))
      return std::nullopt;
    if (e.IncKind == incType::INCBOTH && IsAChar(Char(a)) && IsAChar(Char(b)) &&
        LastOfBlock(Char(a)) != LastOfBlock(Char(b)))
      return std::nullopt;
    const auto rank = [](Byte c) { return IsANum(Char(c)) ? c - '0' : c + 10; };
    return rank(a) < rank(b) ? -1 : 1;
  }
  return 0;
}

std::string TGenMask::DrawProblem() const {
  if (count_ > static_cast<int>(TmString::MaxLength)) {
    return "its keys would be " + std::to_string(count_) + " characters long, and a key holds " +
           "at most " + std::to_string(TmString::MaxLength);
  }
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (e.Kind != tType::ENUMS) continue;
    for (std::size_t i = 1; i < e.Chars.size(); ++i) {
      if (e.Chars.find(e.Chars[i]) < i) {
        // A stored member maps back to its first place, so the draw after it would step to
        // the second place again and again.
        return "the set [" + e.Chars + "] at position " + std::to_string(e.Pos + 1) + " holds '" +
               std::string(1, e.Chars[i]) + "' twice";
      }
    }
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Validation and bounds

bool TGenMask::Validate(const TmString& S) {
  if (first_suffix_ == MaxElements) return false;
  bool fits = true;
  std::size_t p = 0;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (!e.IsSuffix()) continue;
    if (p >= S.size() || !FitsPlace(e, S[p])) {
      fits = false;
      ReportError(e, S, p);
    }
    ++p;
  }
  return fits;
}

std::string TGenMask::ValidateProblem(const TmString& S) const {
  if (first_suffix_ == MaxElements) return "the mask has no counting places";
  std::size_t p = 0;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (!e.IsSuffix()) continue;
    const std::string position = "position " + std::to_string(p + 1);
    if (p >= S.size()) return position + " is missing";
    if (!FitsPlace(e, S[p])) {
      if (e.Kind == tType::ENUMS) {
        return "'" + std::string(1, S[p]) + "' at " + position + " is not in the set " + e.Chars;
      }
      return position + (e.IncKind == incType::INCNUM    ? " is not a digit"
                         : e.IncKind == incType::INCCHAR ? " is not a letter"
                                                         : " is not a digit or letter");
    }
    ++p;
  }
  return {};
}

bool TGenMask::Fits(const TmString& S) const {
  std::size_t p = 0;
  for (int k = 0; k < count_; ++k) {
    const TMskElement& e = elements_[static_cast<std::size_t>(k)];
    if (!e.IsSuffix()) continue;
    if (p >= S.size() || !FitsPlace(e, S[p])) return false;
    ++p;
  }
  return p == S.size();
}

void TGenMask::ReportError(const TMskElement& element, const TmString& text, std::size_t p) {
  const int position = static_cast<int>(p) + 1;
  const char* kind = ErrorKind(element);
  if (OnErrorMask.Assigned()) {
    OnErrorMask(this, position, kind);
    return;
  }
  std::string message;
  if (element.Kind == tType::ENUMS && p < text.size()) {
    message = std::string(1, text[p]) + "is not in the set!";
  } else {
    // A missing character has nothing to show but its position.
    message = "Error at position-" + std::to_string(position) + " " + text.str();
  }
  MessageBox(message, "TGenMask", MB_ICONSTOP);
}

void TGenMask::SetStartValue(const TmString& S) {
  start_value_ = S;
  if (!start_value_.empty() && !Validate(start_value_)) start_value_.clear();
}

void TGenMask::SetEndValue(const TmString& S) {
  end_value_ = S;
  if (!end_value_.empty() && !Validate(end_value_)) end_value_.clear();
}

// ---------------------------------------------------------------------------------------------
// Character routines

bool IsAChar(char c) {
  const Byte code = Code(c);
  return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') || code >= 0xC0;
}

bool IsANum(char c) {
  return c >= '0' && c <= '9';
}

void SpcTo0(std::string& S) {
  std::replace(S.begin(), S.end(), ' ', '0');
}

void SpcTo0(TmString& S) {
  for (std::size_t i = 0; i < S.size(); ++i) {
    if (S[i] == ' ') S[i] = '0';
  }
}

}  // namespace tgen
