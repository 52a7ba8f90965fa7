#include "core/generator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/timestamp.h"
#include "platform/base/convert.h"
#include "platform/base/notice.h"
#include "platform/model/datamodule.h"
#include "platform/model/formstream.h"

namespace tgen {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Notice = RecordingNoticeSink::Notice;

// Notes what InitDB saw.
class Probe : public TGenerator {
 public:
  static constexpr std::string_view StaticClassName = "TGeneratorProbe";
  using TGenerator::TGenerator;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  void InitDB() override {
    init_seen = Mask() + "|" + StartValue().str() + "|" + EndValue().str() + "|" + DataBaseName() +
                "|" + TableName() + "|" + (IsLoading() ? "loading" : "");
  }
  std::string init_seen;
};

class GeneratorTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingNoticeSink> notices = std::make_shared<RecordingNoticeSink>();
  ScopedNoticeSink notice_guard{notices};
};

Notice Stop(const std::string& text) {
  return {text, "Generator Information", MB_ICONSTOP, false};
}

TEST_F(GeneratorTest, InstancesHaveTheirOwnIdentityAndPause) {
  std::vector<std::unique_ptr<TGenerator>> made;
  std::set<std::string> who;
  std::set<std::int32_t> waits;
  for (int i = 0; i < 40; ++i) {
    made.push_back(std::make_unique<TGenerator>());
    who.insert(made.back()->Who());
    waits.insert(made.back()->WaitCount());
    EXPECT_EQ(made.back()->Who().find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LE(made.back()->WaitCount(), 999);
  }
  EXPECT_EQ(who.size(), 40U);  // even when created within one millisecond
  EXPECT_EQ(who.begin()->size(), 17U);
  EXPECT_GT(waits.size(), 1U);
  EXPECT_FALSE(made.front()->Disabled());
  EXPECT_EQ(made.front()->AliasNames(), nullptr);  // the scratch lists are for designers only
}

// Runs setter calls written as "M##|S10|E20" (Mask, StartValue, EndValue) and reports the
// outcome as "start|end|disabled|engine start|engine end".
std::string RunSetters(const std::string& steps) {
  TGenerator g;
  std::istringstream in(steps);
  for (std::string step; std::getline(in, step, '|');) {
    const std::string value = step.substr(1);
    if (step[0] == 'M') g.SetMask(value);
    if (step[0] == 'S') g.SetStartValue(value);
    if (step[0] == 'E') g.SetEndValue(value);
  }
  return g.StartValue().str() + "|" + g.EndValue().str() + "|" + (g.Disabled() ? "off" : "on") +
         "|" + g.GenMask().StartValue().str() + "|" + g.GenMask().EndValue().str();
}

TEST_F(GeneratorTest, SettersCheckTheBounds) {
  const std::string end_first = "EndValue must be greater than StartValue";
  const std::string start_first = "StartValue must be lower than EndValue";
  struct Case {
    std::string steps, outcome, notice;
  };
  const std::vector<Case> cases = {
      {"S10|E20", "||on||", ""},  // values before a mask are dropped
      {"M##|S10|E20", "10|20|on|10|20", ""},
      {"M####|S0010|E0009", "|0009|off|0010|0009", end_first},
      {"M$$$|EAAA|Saaa", "|AAA|off|aaa|AAA", start_first},  // equal but for case
      {"M#|S9|E10", "|10|off|9|10", end_first},             // compared as text
      {"M##|E20|E", "||on||", ""},              // an empty end removes the engine's end too
      {"M##|S10|S", "||on||", ""},              // and an empty start the engine's start
      {"M|M##", "||off||", ""},                 // an empty mask disables ...
      {"M|M##|S01|E99", "01|99|on|01|99", ""},  // ... until a pair in order
      {"M##|S1A", "1A||on||", "Error at position-2 1A"},  // the engine's refusal
  };
  for (const Case& c : cases) {
    notices->Clear();
    EXPECT_EQ(RunSetters(c.steps), c.outcome) << c.steps;
    const std::vector<std::string> expected =
        c.notice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.notice};
    EXPECT_EQ(notices->Texts(), expected) << c.steps;
    for (const Notice& n : notices->Notices())
      EXPECT_EQ(n.flags, MB_ICONSTOP);
  }
  notices->Clear();
  RunSetters("M####|S0010|E0009");
  EXPECT_THAT(notices->Notices(), ElementsAre(Stop(end_first)));
}

TEST_F(GeneratorTest, LockTimeOutLooksAtSecondsAndMilliseconds) {
  struct Case {
    TLocalTime then, now;
    bool timed_out;
  };
  const std::vector<Case> cases = {
      {{2026, 5, 4, 10, 20, 30, 0}, {2026, 5, 4, 10, 20, 31, 0}, false},     // exactly 1000 ms
      {{2026, 5, 4, 10, 20, 30, 0}, {2026, 5, 4, 10, 20, 31, 1}, true},      // 1001 ms
      {{2026, 5, 4, 10, 20, 59, 500}, {2026, 5, 4, 10, 21, 0, 700}, false},  // minute changed
      {{2026, 5, 4, 10, 20, 10, 0}, {2026, 5, 4, 10, 21, 10, 500}, false},   // a minute later
      {{2026, 5, 4, 10, 20, 5, 0}, {2026, 5, 4, 11, 20, 7, 0}, true},        // an hour later
      {{2026, 5, 4, 23, 59, 58, 0}, {2026, 5, 5, 0, 0, 0, 500}, false},      // next day
  };
  TGenerator g;
  for (const Case& c : cases) {
    auto clock = std::make_shared<ManualClock>(EncodeLocal(c.then));
    const ScopedClock guard(clock);
    const std::string then = GetTimeStamp();
    clock->Set(EncodeLocal(c.now));
    EXPECT_EQ(g.CheckTimeOut(then), c.timed_out) << then;
  }

  const ScopedClock guard(std::make_shared<ManualClock>(EncodeLocal({2026, 5, 4, 1, 2, 3, 456})));
  EXPECT_FALSE(g.CheckTimeOut("2500"));  // shorter than five: read whole
  EXPECT_TRUE(g.CheckTimeOut("2455"));
  EXPECT_THROW(g.CheckTimeOut("2026050401020345x"), EConvertError);  // damaged: told, not taken
}

// ------------------------------------------------------------------------------------------
// Stored forms

class TOrderModule : public TDataModule {
 public:
  static constexpr std::string_view StaticClassName = "TOrderModule";
  explicit TOrderModule(TComponent* owner = nullptr) : TDataModule(owner) {
    PublishMethod("Prefixes", TGenProcEvent([](TObject*, TmString& p) { p = "Z"; }));
    PublishMethod("Overflow", TGOverFlowEvent([](TObject*, TmString) {}));
    PublishMethod("NewRecord", TOnNewRecord([](TObject*, TmString&) {}));
  }
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
};

class GeneratorFormTest : public GeneratorTest {
 protected:
  void SetUp() override {
    classes.RegisterClass<TOrderModule>();
    classes.RegisterClass<TGenerator>();
    classes.RegisterClass<Probe>();
  }
  TClassRegistry classes;
};

TEST_F(GeneratorFormTest, WritesPropertiesThenAlwaysTheTwoStoredNames) {
  TOrderModule module;
  module.SetName("Orders");
  auto* g = new TGenerator(&module);
  g->SetName("Invoices");
  g->SetMask("INV-'[AB]##@");
  g->SetStartValue("A01");
  g->SetEndValue("B99");
  g->SetGeneratorType(3);
  g->SetLockMode(TLockMode::lmTransaction);
  g->SetCacheSize(50);
  g->SetCheckMethod(TCheckMethod::cmMod97);
  g->SetPeriodFormat("Q");
  g->SetFiscalYearStart(4);
  g->GetUserPrefixes = std::any_cast<TGenProcEvent>(*module.FindMethod("Prefixes"));
  g->OnUndoFailed = std::any_cast<TGOverFlowEvent>(*module.FindMethod("Overflow"));
  g->SetDataBaseName("");
  g->SetTableName("KEYS \xC4\xC1.DB");
  auto* plain = new TGenerator(&module);
  plain->SetName("Plain");
  plain->SetMask("##");
  plain->SetStartValue("05");
  plain->SetMask("");  // a start without a mask would not read back: it is not written

  EXPECT_EQ(WriteComponent(module),
            "object Orders: TOrderModule\n"
            "  object Invoices: TGenerator\n"
            "    Mask = 'INV-''[AB]##@'\n"
            "    StartValue = 'A01'\n"
            "    EndValue = 'B99'\n"
            "    GeneratorType = 3\n"
            "    CacheSize = 50\n"
            "    LockMode = lmTransaction\n"
            "    CheckMethod = cmMod97\n"
            "    PeriodFormat = 'Q'\n"
            "    FiscalYearStart = 4\n"
            "    GetUserPrefixes = Prefixes\n"
            "    OnUndoFailed = Overflow\n"
            "    DataBaseName = ''\n"
            "    TableName = 'KEYS '#196#193'.DB'\n"
            "  end\n"
            "  object Plain: TGenerator\n"
            "    DataBaseName = 'tGenAlias'\n"
            "    TableName = 'GENTBL.DB'\n"
            "  end\n"
            "end\n");

  // Read back, it writes the same text: every property came back.
  const std::unique_ptr<TComponent> copy = ReadComponent(WriteComponent(module), classes);
  EXPECT_EQ(WriteComponent(*copy), WriteComponent(module));
}

TEST_F(GeneratorFormTest, LoadedOpensTheTableAfterEverythingWasRead) {
  const std::unique_ptr<TComponent> module = ReadComponent(
      "object Orders: TOrderModule\n"
      "  object G: TGeneratorProbe\n"
      "    Mask = '##'\n"
      "    StartValue = '10'\n"
      "    EndValue = '20'\n"
      "    TableName = 'ORDERS.DB'\n"
      "  end\n"
      "end\n",
      classes);
  const auto& g = dynamic_cast<Probe&>(*module->FindComponent("G"));
  // DataBaseName was not in the form: the default stays.
  EXPECT_EQ(g.init_seen, "##|10|20|tGenAlias|ORDERS.DB|loading");
  EXPECT_FALSE(g.IsLoading());
  EXPECT_EQ(g.AliasNames(), nullptr);

  // Read for a designer: made designing, so the generator has its editors' scratch lists.
  const std::unique_ptr<TComponent> designed = ReadComponent(
      "object Orders: TOrderModule\n  object G: TGeneratorProbe\n  end\nend\n", classes, true);
  const auto& d = dynamic_cast<Probe&>(*designed->FindComponent("G"));
  EXPECT_TRUE(d.Designing());
  EXPECT_NE(d.AliasNames(), nullptr);
}

TEST_F(GeneratorFormTest, FormsTheComponentRefuses) {
  struct Case {
    std::string body, message;
  };
  const std::vector<Case> cases = {
      {"    Mask = '[A[B]'\n", "Line 3: Error in mask picture at position:2!"},
      {"    LockMode = lmFast\n",
       "Line 3: 'lmFast' is not a value of TLockMode (lmRowFields, lmTransaction)"},
      {"    LockMode = 'lmTransaction'\n",
       "Line 3: Property LockMode takes an identifier, not a string"},
  };
  for (const Case& c : cases) {
    try {
      ReadComponent(
          "object Orders: TOrderModule\n  object G: TGenerator\n" + c.body + "  end\nend\n",
          classes);
      ADD_FAILURE() << c.body;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  // A start value before the mask is dropped, as by code.
  const auto module = ReadComponent(
      "object O: TOrderModule\n object G: TGenerator\n StartValue = '1'\n Mask = '#'\n end\nend\n",
      classes);
  EXPECT_EQ(dynamic_cast<TGenerator&>(*module->FindComponent("G")).StartValue(), "");
}

}  // namespace
}  // namespace tgen
