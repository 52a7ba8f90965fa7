#include "core/genmask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/exception.h"
#include "platform/base/notice.h"

namespace tgen {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Every test records the notices instead of printing them.
class GenMaskTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingNoticeSink> notices = std::make_shared<RecordingNoticeSink>();
  ScopedNoticeSink guard{notices};
};

// One letter per element: S static, E set, N digit, C letter, B digit-or-letter, P procedure.
std::string Kinds(const TGenMask& m) {
  std::string kinds;
  for (int k = 0; k < m.Count(); ++k) {
    const TMskElement& e = m.Elements()[static_cast<std::size_t>(k)];
    if (e.Kind == tType::INC) {
      kinds += "NCB"[static_cast<int>(e.IncKind) - static_cast<int>(incType::INCNUM)];
    } else {
      kinds += e.Kind == tType::STAT    ? 'S'
               : e.Kind == tType::ENUMS ? 'E'
               : e.Kind == tType::PROC  ? 'P'
                                        : '?';
    }
  }
  return kinds;
}

// ------------------------------------------------------------------------------------------
// Parsing

TEST_F(GenMaskTest, ParsesMasks) {
  struct Case {
    std::string mask, kinds, value, suffix, prefix;
  };
  const std::vector<Case> cases = {
      {"", "", "", "", ""},
      {"]", "S", "]", "", "]"},
      {"abc", "SSS", "abc", "", "abc"},
      {"[#$@&]", "E", "#", "#", ""},
      {"[AAB]", "E", "A", "A", ""},
      {"INV[AB]-##@", "SSSESNNP", "INVA-##@", "A##", "INV-@"},
      {"#$&@", "NCBP", "#$&@", "#$&", "@"},
      {"[ a]x", "ES", " x", " ", "x"},
      {std::string("AB\0[CD", 6), "SS", "AB", "", "AB"},  // ends at the first zero byte
      {std::string(101, '#'), std::string(101, 'N'), std::string(100, '#'), std::string(100, '#'),
       ""},                                                    // read-outs keep 100 characters
      {"[" + std::string(253, 'Q') + "]", "E", "Q", "Q", ""},  // 255 characters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mask " + c.mask);
    TGenMask m;
    m.ScanMask(c.mask);
    EXPECT_EQ(Kinds(m), c.kinds);
    EXPECT_EQ(m.GetMskValue(), c.value);
    EXPECT_EQ(m.GetSuffix(), c.suffix);
    EXPECT_EQ(m.GetPrefix(), c.prefix);
  }
  EXPECT_THAT(notices->Notices(), IsEmpty());
}

TEST_F(GenMaskTest, RefusesBadMasksAndEmptiesTheTable) {
  struct Case {
    std::string mask, message;
  };
  std::string tooMany;
  for (int i = 0; i < 102; ++i)
    tooMany += i % 2 ? "[ab]" : "#";
  const std::vector<Case> cases = {
      {"[A[B]", "Error in mask picture at position:2!"},
      {"#[A[B]", "Error in mask picture at position:3!"},
      {"XY[[", "Error in mask picture at position:3!"},
      {"AB[", "Missing ] symbol in Mask!"},
      {"[AB", "Missing ] symbol in Mask!"},
      {"[]", "Empty set in mask picture at position:0!"},
      {"AB##[]", "Empty set in mask picture at position:4!"},
      {std::string(256, 'A'), "Mask picture longer than 255 characters!"},
      {std::string(102, '#'), "Too many elements in mask picture at position:101!"},
      {tooMany,
       "Too many elements in mask picture at position:" + std::to_string(tooMany.size() - 4) + "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mask " + c.mask);
    TGenMask m;
    m.ScanMask("##");
    m.SetStartValue("10");
    try {
      m.ScanMask(c.mask);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(e.Kind(), TErrorKind::kBadInput);
    }
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.GetMskValue(), "");
    EXPECT_EQ(m.StartValue(), "10");  // the bounds outlive a failed parse
    m.Increment();                    // and an empty table steps to nothing
    m.Decrement();
    EXPECT_EQ(m.GetMskValue(), "");
    EXPECT_FALSE(m.Validate("5"));  // nor accepts any value
    EXPECT_FALSE(m.Fits("5"));
  }
}

TEST_F(GenMaskTest, UserProcedurePlaces) {
  TGenMask m;
  m.ScanMask("@@-#");
  EXPECT_EQ(m.GetPROC(), "@@");

  std::vector<std::string> seen;
  m.OnGetPROC = [&](TObject* sender, TmString& preff) {
    EXPECT_EQ(sender, &m);
    seen.push_back(preff.str());
    preff = "X";
  };
  EXPECT_EQ(m.GetPROC(), "X");
  EXPECT_EQ(m.GetMskValue(), "X@-#");  // the second place keeps its character
  m.OnGetPROC = [](TObject*, TmString& preff) { preff = "QRS"; };
  EXPECT_EQ(m.GetPrefix(), "QR-");  // the extra character is not used
  EXPECT_THAT(seen, ElementsAre("@@"));
}

// ------------------------------------------------------------------------------------------
// Stepping

struct StepCase {
  std::string mask, start, end, from;
  std::string steps;  // '+' Increment, '-' Decrement, 'N' NullValue
  std::string expected;
};

std::string Steps(const StepCase& c, TGenMask& m) {
  m.ScanMask(c.mask);
  m.SetStartValue(c.start);
  m.SetEndValue(c.end);
  if (c.from.empty()) {
    m.NullValue();
  } else {
    m.SetSuffix(c.from);
  }
  for (const char step : c.steps) {
    if (step == '+') m.Increment();
    if (step == '-') m.Decrement();
    if (step == 'N') m.NullValue();
  }
  return m.GetMskValue().str();
}

TEST_F(GenMaskTest, StepsWithoutHandlers) {
  const std::string c0 = "\xC0", cdf = "\xDF", e0 = "\xE0", ff = "\xFF";
  const std::vector<StepCase> cases = {
      // Digits: carry, restart after the last value, borrow.
      {"##", "", "", "", std::string(99, '+'), "99"},
      {"##", "", "", "", std::string(100, '+'), "00"},
      {"##", "", "", "19", "+", "20"},
      {"##", "", "", "20", "-", "19"},
      {"##", "", "", "00", "-", "00"},  // below the first value: NullValue
      // Digits and letters.
      {"&&", "", "", "09", "+", "0A"},
      {"&&", "", "", "ZZ", "+", "00"},
      {"&&", "", "", "10", "-", "0Z"},
      {"&&", "", "", "A0", "-", "9Z"},
      {"#&", "", "", "1z", "+", "20"},
      {"#&", "", "", "1" + cdf, "+", "20"},
      {"#&", "", "", "1" + e0, "-", "19"},
      // Letters stay in their block, Latin and Cyrillic alike.
      {"$", "", "", "Z", "+", "A"},
      {"$", "", "", "a", "-", "A"},  // borrow past the first value, then NullValue
      {"#$", "", "", "1" + cdf, "+", "2" + c0},
      {"#$", "", "", "1" + ff, "+", "2" + e0},
      {"#$", "", "", "2" + c0, "-", "1" + cdf},
      {"$$", "", "", "Az", "+", "Ba"},
      // Sets, repeated members included.
      {"[XYZ]#", "", "", "X9", "+", "Y0"},
      {"[XYZ]#", "", "", "Z9", "+", "X0"},
      {"[AAB]", "", "", "", "+", "A"},
      {"[AAB]", "", "", "", "++", "B"},
      // A carry chain through every kind of place and past prefix places.
      {"[AB]-&/$:#", "", "", "AZZ9", "+", "B-0/A:0"},
      {"[AB]-&/$:#", "", "", "B0A0", "-", "A-Z/Z:9"},
      {"[AB]-&/$:#", "", "", "BZZ9", "+", "A-0/A:0"},
      // Bounds.
      {"##", "", "05", "05", "+", "00"},
      {"##", "03", "05", "05", "+", "03"},
      {"##", "10", "20", "11", "-", "10"},
      {"##", "10", "20", "10", "-", "20"},
      {"##", "10", "", "10", "-", "99"},  // no end: the counter's last value
      {"##", "10", "20", "30", "N", "10"},
      {"[BA]##", "", "A50", "B00", "+", "B00"},  // B01 compares above A50
      {"$$", "", "bz", "BY", "+", "BZ"},         // BZ equals bz: still allowed
      {"$$", "", "bz", "BY", "++", "AA"},
      // A borrow chain stops where it meets the start value.
      {"##", "29", "50", "20", "-", "50"},
      {"##", "09", "", "10", "--", "99"},
      // Prefix only: every step overflows or underflows and restarts.
      {"AB-", "", "", "", "+-", "AB-"},
      {"AB-##", "", "", "07", "", "AB-07"},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE("mask " + c.mask + " from " + c.from + " steps " + c.steps);
    TGenMask m;
    EXPECT_EQ(Steps(c, m), c.expected);
  }
  EXPECT_THAT(notices->Notices(), IsEmpty());
}

TEST_F(GenMaskTest, WrapsToTheLastValueOfEachPlace) {
  // At the start, with no end given, each place goes to the last value of its own cycle.
  TGenMask m;
  m.ScanMask("[XYZ]-#&$$$$");
  m.SetStartValue("X0aBa\xC5\xE5");
  m.NullValue();
  m.Decrement();
  EXPECT_EQ(m.GetMskValue(), "Z-9ZZz\xDF\xFF");
}

// Records what the overflow and underflow handlers are told.
struct FlowRecorder {
  std::vector<std::string> over, under;
  void Attach(TGenMask& m) {
    m.OnOverFlow = [this, &m](TObject* sender, TmString suffix) {
      EXPECT_EQ(sender, &m);
      over.push_back(suffix.str());
    };
    m.OnUnderFlow = [this](TObject*, TmString suffix) { under.push_back(suffix.str()); };
  }
};

TEST_F(GenMaskTest, HandlersAreToldAndTheValueStays) {
  struct Case {
    StepCase step;
    std::vector<std::string> over, under;
  };
  const std::vector<Case> cases = {
      {{"##", "", "", "99", "+", "00"}, {"00"}, {}},
      {{"##", "", "05", "05", "+", "06"}, {"06"}, {}},
      {{"[BA]##", "", "A50", "B00", "+", "B01"}, {"B01"}, {}},
      {{"$", "", "", "a", "-", "z"}, {}, {"z"}},
      {{"##", "10", "20", "10", "-", "10"}, {}, {"10"}},
      {{"##", "", "", "00", "-", "99"}, {}, {"99"}},
      {{"AB", "", "", "", "+-", "AB"}, {""}, {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mask " + c.step.mask + " steps " + c.step.steps);
    TGenMask m;
    FlowRecorder flows;
    flows.Attach(m);
    EXPECT_EQ(Steps(c.step, m), c.step.expected);
    EXPECT_EQ(flows.over, c.over);
    EXPECT_EQ(flows.under, c.under);
  }
}

TEST_F(GenMaskTest, LoadsSuffixAndPrefix) {
  TGenMask m;
  m.ScanMask("[XYZ]#");
  m.SetSuffix("Q5");
  EXPECT_EQ(m.GetMskValue(), "X5");  // no member Q: the first member
  m.SetSuffix("Z");
  EXPECT_EQ(m.GetMskValue(), "Z5");  // a shorter text leaves the rest alone
  m.SetSuffix("Y7EXTRA");
  EXPECT_EQ(m.GetMskValue(), "Y7");

  m.ScanMask("AB-#@");
  m.NullValue();
  m.SetPrefix("xy+Q");
  EXPECT_EQ(m.GetMskValue(), "xy+0Q");
  m.SetPrefix("Z");
  EXPECT_EQ(m.GetMskValue(), "Zy+0Q");
}

// ------------------------------------------------------------------------------------------
// Validation and bounds

struct ValidateCase {
  std::string mask, text;
  bool fits;
  std::vector<std::string> messages;
};

TEST_F(GenMaskTest, ValidatesAndReportsEachBadPosition) {
  const std::vector<ValidateCase> cases = {
      {"##", "12", true, {}},
      {"##", "1A", false, {"Error at position-2 1A"}},
      {"##", "AB", false, {"Error at position-1 AB", "Error at position-2 AB"}},
      {"$", "5", false, {"Error at position-1 5"}},
      {"$", "\xC1", true, {}},
      {"&", "-", false, {"Error at position-1 -"}},
      {"&", "z", true, {}},
      {"[XYZ]#", "Q1", false, {"Qis not in the set!"}},
      {"[XYZ]#", "x1", false, {"xis not in the set!"}},
      {"AB-#", "7", true, {}},
      {"AB-#", "AB-7", false, {"Error at position-1 AB-7"}},
      {"#", "1X", true, {}},
      {"ABC", "1", false, {}},
      {"AB", "", false, {}},
      // Missing characters do not fit and are reported by position.
      {"##", "1", false, {"Error at position-2 1"}},
      {"#[XY]", "1", false, {"Error at position-2 1"}},
      {"#$", "", false, {"Error at position-1 ", "Error at position-2 "}},
  };
  for (const ValidateCase& c : cases) {
    SCOPED_TRACE("mask " + c.mask + " text " + c.text);
    notices->Clear();
    TGenMask m;
    m.ScanMask(c.mask);
    // The quiet check agrees, and says nothing.
    EXPECT_EQ(m.ValidateProblem(c.text).empty(), c.fits);
    EXPECT_THAT(notices->Notices(), IsEmpty());
    EXPECT_EQ(m.Validate(c.text), c.fits);
    EXPECT_EQ(notices->Texts(), c.messages);
    for (const auto& n : notices->Notices()) {
      EXPECT_EQ(n.caption, "TGenMask");
      EXPECT_EQ(n.flags, MB_OK | MB_ICONSTOP);
      EXPECT_FALSE(n.plain);
    }
  }
}

TEST_F(GenMaskTest, BoundSettersDropWhatDoesNotFit) {
  TGenMask m;
  m.ScanMask("##");
  m.SetStartValue("1A");
  EXPECT_EQ(m.StartValue(), "");
  m.SetEndValue("42");
  EXPECT_EQ(m.EndValue(), "42");
  m.SetEndValue("");
  EXPECT_EQ(m.EndValue(), "");
  m.SetStartValue(std::string(150, '1'));  // cut to 100 characters, then checked
  EXPECT_EQ(m.StartValue(), std::string(100, '1'));
  EXPECT_THAT(notices->Texts(), ElementsAre("Error at position-2 1A"));

  notices->Clear();
  m.ScanMask("ABC");
  EXPECT_EQ(m.StartValue(), std::string(100, '1'));  // a new mask keeps bounds that do not fit
  m.SetStartValue("1");
  EXPECT_EQ(m.StartValue(), "");
  EXPECT_THAT(notices->Notices(), IsEmpty());
}

}  // namespace
}  // namespace tgen
