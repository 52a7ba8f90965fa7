#include "core/generator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/timestamp.h"
#include "platform/convert.h"
#include "platform/datamodule.h"
#include "platform/formstream.h"
#include "platform/notice.h"

namespace tgen {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Notice = RecordingNoticeSink::Notice;

// Opens the component's inside to the tests, and notes what InitDB saw.
class Probe : public TGenerator {
 public:
  static constexpr std::string_view StaticClassName = "TGeneratorProbe";
  using TGenerator::TGenerator;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  void InitDB() override {
    init_seen = Mask() + "|" + StartValue().str() + "|" + EndValue().str() + "|" + DataBaseName() +
                "|" + TableName() + "|" + (IsLoading() ? "loading" : "");
  }
  TGenMask& Engine() { return *FGenMask; }
  [[nodiscard]] const TmString& Prefix() const { return FPrefix; }
  [[nodiscard]] const TmString& Suffix() const { return FSuffix; }
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

TEST_F(GeneratorTest, ComponentCreatedByCodeHasItsDefaults) {
  TGenerator g;
  EXPECT_EQ(g.DataBaseName(), "tGenAlias");
  EXPECT_EQ(g.TableName(), "GENTBL.DB");
  EXPECT_EQ(g.GeneratorType(), 0);
  EXPECT_EQ(g.Tag(), 0);
  EXPECT_EQ(g.Mask(), "");
  EXPECT_EQ(g.StartValue(), "");
  EXPECT_EQ(g.EndValue(), "");
  EXPECT_FALSE(g.Disabled());
  EXPECT_GE(g.WaitCount(), 0);
  EXPECT_LE(g.WaitCount(), 999);
  EXPECT_EQ(g.Who().size(), 17U);
  EXPECT_EQ(g.Who().find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(g.AliasNames(), nullptr);
  EXPECT_EQ(g.ClassName(), "TGenerator");
}

TEST_F(GeneratorTest, InstancesHaveTheirOwnIdentityAndPause) {
  std::vector<std::unique_ptr<TGenerator>> made;
  std::set<std::string> who;
  std::set<std::int32_t> waits;
  for (int i = 0; i < 40; ++i) {
    made.push_back(std::make_unique<TGenerator>());
    who.insert(made.back()->Who());
    waits.insert(made.back()->WaitCount());
  }
  EXPECT_EQ(who.size(), 40U);  // even when created within one millisecond
  EXPECT_GT(waits.size(), 1U);

  // Instances made on separate threads at once are told apart as well.
  std::vector<std::string> stamps(60);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&stamps, t] {
      for (int i = 0; i < 20; ++i)
        stamps[static_cast<std::size_t>(t * 20 + i)] = TGenerator().Who();
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(std::set<std::string>(stamps.begin(), stamps.end()).size(), 60U);
}

TEST_F(GeneratorTest, DesigningOwnerGivesTheScratchLists) {
  TDataModule form;
  form.SetDesigning(true);
  auto* g = new TGenerator(&form);
  EXPECT_NE(g->AliasNames(), nullptr);
  EXPECT_NE(g->TableNames(), nullptr);
}

// One setter call: which property gets which text.
struct Set {
  char what;  // 'M' mask, 'S' start, 'E' end
  std::string value;
};

TEST_F(GeneratorTest, SettersCheckTheBounds) {
  struct Case {
    std::string title;
    std::vector<Set> steps;
    std::string start, end;
    bool disabled;
    std::vector<Notice> notices;
    std::string engine_start, engine_end;
  };
  const std::vector<Case> cases = {
      {"values before a mask are dropped", {{'S', "10"}, {'E', "20"}}, "", "", false, {}, "", ""},
      {"in order", {{'M', "##"}, {'S', "10"}, {'E', "20"}}, "10", "20", false, {}, "10", "20"},
      {"end not after start",
       {{'M', "####"}, {'S', "0010"}, {'E', "0009"}},
       "",
       "0009",
       true,
       {Stop("EndValue must be greater than StartValue")},
       "0010",
       "0009"},
      {"start equal to end but for case",
       {{'M', "$$$"}, {'E', "AAA"}, {'S', "aaa"}},
       "",
       "AAA",
       true,
       {Stop("StartValue must be lower than EndValue")},
       "aaa",
       "AAA"},
      {"compared as text",
       {{'M', "#"}, {'S', "9"}, {'E', "10"}},
       "",
       "10",
       true,
       {Stop("EndValue must be greater than StartValue")},
       "9",
       "10"},
      {"an empty end removes the engine's end too",
       {{'M', "##"}, {'E', "20"}, {'E', ""}},
       "",
       "",
       false,
       {},
       "",
       ""},
      {"an empty start empties the engine's start",
       {{'M', "##"}, {'S', "10"}, {'S', ""}},
       "",
       "",
       false,
       {},
       "",
       ""},
      {"an empty mask disables until a pair in order",
       {{'M', ""}, {'M', "##"}},
       "",
       "",
       true,
       {},
       "",
       ""},
      {"a pair in order enables again",
       {{'M', ""}, {'M', "##"}, {'S', "01"}, {'E', "99"}},
       "01",
       "99",
       false,
       {},
       "01",
       "99"},
      {"a value the engine refuses stays in the property",
       {{'M', "##"}, {'S', "1A"}},
       "1A",
       "",
       false,
       {{"Error at position-2 1A", "TGenMask", MB_ICONSTOP, false}},
       "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    notices->Clear();
    TGenerator g;
    for (const Set& s : c.steps) {
      if (s.what == 'M') g.SetMask(s.value);
      if (s.what == 'S') g.SetStartValue(s.value);
      if (s.what == 'E') g.SetEndValue(s.value);
    }
    EXPECT_EQ(g.StartValue(), c.start);
    EXPECT_EQ(g.EndValue(), c.end);
    EXPECT_EQ(g.Disabled(), c.disabled);
    EXPECT_EQ(notices->Notices(), c.notices);
    EXPECT_EQ(g.GenMask().StartValue(), c.engine_start);
    EXPECT_EQ(g.GenMask().EndValue(), c.engine_end);
  }
}

TEST_F(GeneratorTest, MalformedMaskReachesTheCaller) {
  TGenerator g;
  EXPECT_THROW(g.SetMask("AB["), Exception);
  EXPECT_EQ(g.Mask(), "AB[");
  EXPECT_EQ(g.GenMask().Count(), 0);
}

TEST_F(GeneratorTest, OverflowRestartsWithANoticeUnlessHandled) {
  Probe g;
  g.SetMask("X#");
  g.Engine().SetSuffix("9");
  g.Engine().Increment();
  EXPECT_EQ(g.Engine().GetMskValue(), "X0");
  EXPECT_EQ(g.Suffix(), "0");
  EXPECT_EQ(g.Prefix(), "X");
  EXPECT_THAT(notices->Notices(),
              ElementsAre(Notice{"Incremental part was set to startup value",
                                 "Generator Information", MB_ICONINFORMATION, false}));

  notices->Clear();
  std::vector<std::string> told;
  g.OnOverFlowMask = [&](TObject* sender, TmString suffix) {
    EXPECT_EQ(sender, &g);
    told.push_back(suffix.str());
  };
  g.Engine().SetSuffix("9");
  g.Engine().Increment();
  EXPECT_THAT(told, ElementsAre("0"));
  EXPECT_THAT(notices->Notices(), IsEmpty());
}

TEST_F(GeneratorTest, NewRecordHandlerReplacesTheReset) {
  Probe g;
  g.SetMask("##");
  g.SetStartValue("10");
  g.Engine().SetSuffix("42");
  std::vector<std::string> told;
  g.OnNewRecord = [&](TObject*, TmString& suffix) {
    told.push_back(suffix.str());
    suffix = "77";  // not used: the suffix is taken from the engine afterwards
  };
  g.NullRecord();
  EXPECT_THAT(told, ElementsAre(""));
  EXPECT_EQ(g.Suffix(), "42");
  g.OnNewRecord.Clear();
  g.NullRecord();
  EXPECT_EQ(g.Suffix(), "10");
}

TEST_F(GeneratorTest, UserPrefixesComeFromTheEvent) {
  Probe g;
  g.SetMask("@@-#");
  EXPECT_EQ(g.Engine().GetPrefix(), "@@-");
  g.GetUserPrefixes = [&](TObject* sender, TmString& preff) {
    EXPECT_EQ(sender, &g);
    EXPECT_EQ(preff, "@@");
    preff = "NY";
  };
  EXPECT_EQ(g.Engine().GetPrefix(), "NY-");
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
  for (const auto& [text, quoted] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"2026050401020345x", "0345x"}, {"12 34", "12 34"}, {"abc", "abc"}}) {
    try {
      g.CheckTimeOut(text);
      ADD_FAILURE() << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + quoted + "' is not a valid integer value");
    }
  }
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
  g->GetUserPrefixes = std::any_cast<TGenProcEvent>(*module.FindMethod("Prefixes"));
  g->OnUndoFailed = std::any_cast<TGOverFlowEvent>(*module.FindMethod("Overflow"));
  g->SetDataBaseName("");
  g->SetTableName("KEYS \xC4\xC1.DB");
  auto* plain = new TGenerator(&module);
  plain->SetName("Plain");

  EXPECT_EQ(WriteComponent(module),
            "object Orders: TOrderModule\n"
            "  object Invoices: TGenerator\n"
            "    Mask = 'INV-''[AB]##@'\n"
            "    StartValue = 'A01'\n"
            "    EndValue = 'B99'\n"
            "    GeneratorType = 3\n"
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

  const std::unique_ptr<TComponent> copy = ReadComponent(WriteComponent(module), classes);
  auto& h = dynamic_cast<TGenerator&>(*copy->FindComponent("Invoices"));
  EXPECT_EQ(h.Mask(), "INV-'[AB]##@");
  EXPECT_EQ(h.StartValue(), "A01");
  EXPECT_EQ(h.EndValue(), "B99");
  EXPECT_EQ(h.GeneratorType(), 3);
  EXPECT_EQ(h.DataBaseName(), "");
  EXPECT_EQ(h.TableName(), "KEYS \xC4\xC1.DB");
  EXPECT_EQ(h.GetUserPrefixes.Name(), "Prefixes");
  EXPECT_FALSE(h.OnOverFlowMask.Assigned());
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
}

TEST_F(GeneratorFormTest, FormsTheComponentRefuses) {
  struct Case {
    std::string body, message;
  };
  const std::vector<Case> cases = {
      {"    Tag = 5\n", "Line 3: Property Tag is read-only"},
      {"    Mask = '[A[B]'\n", "Line 3: Error in mask picture at position:2!"},
      {"    DataBaseName = 7\n", "Line 3: property DataBaseName takes a string"},
      {"    GetUserPrefixes = Overflow\n",
       "Line 3: Method Overflow does not fit GetUserPrefixes (TGenProcEvent)"},
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

TEST_F(GeneratorFormTest, RegistrationNamesTheClassInTheGlobalRegistry) {
  RegisterGeneratorClasses();
  RegisterGeneratorClasses();
  EXPECT_TRUE(TClassRegistry::Global().Contains("TGenerator"));
  EXPECT_TRUE(TClassRegistry::Global().Contains("TDataModule"));
}

}  // namespace
}  // namespace tgen
