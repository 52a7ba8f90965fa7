#include "platform/model/formstream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/model/datamodule.h"

namespace tgen {
namespace {

using TPingEvent = TMethodRef<void(TObject* Sender, int Value)>;
using TNameEvent = TMethodRef<void(TObject* Sender, std::string& Name)>;

std::vector<std::string> events;  // what the sample components did, in order
int live = 0;                     // sample components alive

// A component with a property of every kind and two defined values.
class TSample : public TComponent {
 public:
  static constexpr std::string_view StaticClassName = "TSample";
  explicit TSample(TComponent* owner) : TComponent(owner) { ++live; }
  ~TSample() override { --live; }
  TSample(const TSample&) = delete;
  TSample& operator=(const TSample&) = delete;

  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  [[nodiscard]] const TPropList& Properties() const override {
    static const TPropList list(
        TComponent::ClassProperties(),
        {StringProperty<TSample>("Caption", "string", &TSample::Caption, &TSample::SetCaption),
         IntegerProperty<TSample>("Count", &TSample::Count, &TSample::SetCount, 7),
         IntegerProperty<TSample>(
             "Fixed", [](const TSample&) { return 1; }, nullptr),
         EventProperty("OnPing", "TPingEvent", &TSample::OnPing),
         EventProperty("OnName", "TNameEvent", &TSample::OnName)});
    return list;
  }
  void DefineProperties(TFiler& Filer) override {
    TComponent::DefineProperties(Filer);
    Filer.DefineProperty(
        "Extra", [this](TReader& r) { extra = r.ReadString(); },
        [this](TWriter& w) { w.WriteString(extra); }, true);
    Filer.DefineProperty(
        "Level", [this](TReader& r) { level = r.ReadInteger(); },
        [this](TWriter& w) { w.WriteInteger(level); }, level != 0);
  }
  void Loaded() override {
    events.push_back("loaded " + Name() + " caption=" + caption_ + " extra=" + extra);
    TComponent::Loaded();
  }

  [[nodiscard]] const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& v) {
    if (v == "refuse") throw Exception("Caption refused");
    events.push_back("caption " + v);
    caption_ = v;
  }
  [[nodiscard]] std::int32_t Count() const { return count_; }
  void SetCount(std::int32_t v) {
    events.push_back("count " + std::to_string(v));
    count_ = v;
  }

  TPingEvent OnPing;
  TNameEvent OnName;
  std::string extra = "default";
  std::int32_t level = 0;

 private:
  std::string caption_;
  std::int32_t count_ = 7;
};

// A root that publishes two handlers.
class TSampleRoot : public TDataModule {
 public:
  static constexpr std::string_view StaticClassName = "TSampleRoot";
  explicit TSampleRoot(TComponent* owner = nullptr) : TDataModule(owner) {
    PublishMethod("RootPing", TPingEvent(this, &TSampleRoot::Ping));
    PublishMethod("RootName", TNameEvent([](TObject*, std::string& n) { n = "named"; }));
  }
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  void Ping(TObject*, int value) { pinged += value; }
  int pinged = 0;
};

class FormStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    classes.RegisterClass<TSample>();
    classes.RegisterClass<TSampleRoot>();
    classes.RegisterClass<TDataModule>();
  }
  void TearDown() override { EXPECT_EQ(live, 0) << "a sample component was left behind"; }

  TClassRegistry classes;
};

TEST_F(FormStreamTest, WritesStoredPropertiesThenDefinedValuesThenOwnedComponents) {
  TSampleRoot root;
  root.SetName("Module1");
  auto* a = new TSample(&root);
  a->SetName("A");
  a->SetCaption("it's");
  a->SetCount(0);
  a->OnPing = std::any_cast<TPingEvent>(*root.FindMethod("RootPing"));
  a->OnName = [](TObject*, std::string&) {};  // bound by code: has no name to store
  a->SetDesignPosition(24, 0);
  a->level = -3;
  auto* b = new TSample(a);
  b->SetName("B");
  b->extra = "";

  EXPECT_EQ(WriteComponent(root),
            "object Module1: TSampleRoot\n"
            "  object A: TSample\n"
            "    Caption = 'it''s'\n"
            "    Count = 0\n"
            "    OnPing = RootPing\n"
            "    Left = 24\n"
            "    Extra = 'default'\n"
            "    Level = -3\n"
            "    object B: TSample\n"
            "      Extra = ''\n"
            "    end\n"
            "  end\n"
            "end\n");
}

TEST_F(FormStreamTest, RoundTripKeepsEveryValueAndByte) {
  std::string all_bytes;
  for (int c = 0; c < 256; ++c)
    all_bytes += static_cast<char>(c);
  const std::vector<std::string> captions = {"plain",
                                             "'",
                                             "''quoted''",
                                             " lead and trail ",
                                             "tab\there",
                                             "line\r\nbreak",
                                             "\xC0\xE1\xE2 Cyrillic",
                                             "#35 not a code",
                                             all_bytes};

  for (const std::string& caption : captions) {
    TSampleRoot root;
    root.SetName("Root");
    root.SetTag(-2147483647 - 1);
    auto* s = new TSample(&root);
    s->SetName("S");
    s->SetCaption(caption);
    s->SetCount(2147483647);
    s->extra = caption;
    s->OnPing = std::any_cast<TPingEvent>(*root.FindMethod("RootPing"));
    s->SetDesignPosition(-5, 300);
    const std::string text = WriteComponent(root);

    events.clear();
    const std::unique_ptr<TComponent> copy = ReadComponent(text, classes);
    // Written again, the same text: every value came back.
    EXPECT_EQ(WriteComponent(*copy), text);
    auto* t = dynamic_cast<TSample*>(copy->FindComponent("S"));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Caption(), caption);  // every byte as it was, not only as it reads back
    t->OnPing(t, 4);                   // bound to the new root's handler
    EXPECT_EQ(dynamic_cast<TSampleRoot&>(*copy).pinged, 4);
  }
}

TEST_F(FormStreamTest, ReadsInStreamOrderAndCallsLoadedLast) {
  const std::unique_ptr<TComponent> root = ReadComponent(
      "object Root: TSampleRoot\n"
      "  object A: TSample\n"
      "    Count = 3\n"
      "    Caption = 'first' +\n"
      "      #32'part'\n"
      "    OnName = RootName\n"
      "    object Inner: TSample\n"
      "      Caption = 'inner'\n"
      "    end\n"
      "  end\n"
      "  OBJECT b: tsample Count = 4 END\n"
      "end\n",
      classes);
  EXPECT_EQ(events,
            (std::vector<std::string>{"count 3", "caption first part", "caption inner", "count 4",
                                      "loaded A caption=first part extra=default",
                                      "loaded Inner caption=inner extra=default",
                                      "loaded b caption= extra=default"}));
  auto& a = dynamic_cast<TSample&>(*root->FindComponent("A"));
  EXPECT_EQ(a.FindComponent("Inner")->Owner(), &a);
  EXPECT_FALSE(a.IsLoading());
  std::string n;
  a.OnName(&a, n);
  EXPECT_EQ(n, "named");
  EXPECT_EQ(a.OnName.Name(), "RootName");
}

TEST_F(FormStreamTest, DamagedFormsFailNamingTheLine) {
  struct Case {
    std::string text, message;
  };
  const std::string head = "object Root: TSampleRoot\n  object A: TSample\n";
  const std::vector<Case> cases = {
      {"", "Line 1: expected 'object'"},
      {"object Root: TNothing\nend\n", "Line 1: Class TNothing not found"},
      {"object Root: TSampleRoot\n", "Line 2: unexpected end of the form, expected 'end'"},
      {"object Root: TSampleRoot\nend\nend\n", "Line 3: text after the end of the form"},
      {head + "    Colour = 3\n  end\nend\n", "Line 3: Property Colour does not exist in TSample"},
      {head + "    Count = 'three'\n  end\nend\n",
       "Line 3: Property Count takes an integer, not a string"},
      {head + "    Extra = 12\n  end\nend\n", "Line 3: property Extra takes a string"},
      {head + "    Fixed = 2\n  end\nend\n", "Line 3: Property Fixed is read-only"},
      {head + "    OnPing = Nobody\n  end\nend\n",
       "Line 3: Method Nobody is not published by Root"},
      {head + "    OnPing = RootName\n  end\nend\n",
       "Line 3: Method RootName does not fit OnPing (TPingEvent)"},
      {head + "    Caption = 'open\n  end\nend\n", "Line 3: unterminated string"},
      {head + "    Caption = 'a' +\n  end\nend\n", "Line 4: expected a string after '+'"},
      {head + "    Count = 99999999999\n  end\nend\n", "Line 3: integer out of range"},
      {head + "    Count = ;\n  end\nend\n", "Line 3: unexpected character ';'"},
      {head + "    Caption = 'refuse'\n  end\nend\n", "Line 3: Caption refused"},
      {head + "  end\n  object A: TSample\n  end\nend\n",
       "Line 4: A component named A already exists"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ReadComponent(c.text, classes);
      ADD_FAILURE() << "read without error";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(live, 0);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("loaded", 0) == 0; }),
              0);
  }

  std::string deep;
  for (int i = 0; i < 100; ++i)
    deep += "object A" + std::to_string(i) + ": TSample\n";
  EXPECT_THROW(ReadComponent(deep, classes), EReadError);
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace tgen
