#include "platform/designtime/designintf.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/model/classes.h"
#include "platform/model/datamodule.h"

namespace tgen {
namespace {

// A component with a text property "Mask" and an integer property "Mask2", and a descendant.
class TBase : public TComponent {
 public:
  static constexpr std::string_view StaticClassName = "TBase";
  using TComponent::TComponent;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  [[nodiscard]] const TPropList& Properties() const override {
    static const TPropList list(
        TComponent::ClassProperties(),
        {StringProperty<TBase>("Mask", "string", &TBase::mask_, &TBase::SetMask),
         IntegerProperty<TBase>("Size", &TBase::size_, &TBase::SetSize)});
    return list;
  }
  void SetMask(std::string v) { mask_ = std::move(v); }
  void SetSize(std::int32_t v) { size_ = v; }

 private:
  std::string mask_;
  std::int32_t size_ = 0;
};

class TDerived : public TBase {
 public:
  static constexpr std::string_view StaticClassName = "TDerived";
  using TBase::TBase;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
};

// Editors told apart by the attributes they report.
template <unsigned Mark>
class Marked : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  [[nodiscard]] unsigned GetAttributes() override { return Mark; }
};

template <unsigned Mark>
TDesignRegistry::PropertyEditorFactory MarkedFactory() {
  return [](TFormDesigner* d, TComponent& c, const TPropInfo& p) {
    return std::make_unique<Marked<Mark>>(d, c, p);
  };
}

unsigned AttributesOf(const TDesignRegistry& registry, TComponent& c, std::string_view prop) {
  return registry.PropertyEditor(nullptr, c, *c.Properties().Find(prop))->GetAttributes();
}

TEST(TDesignRegistry, PropertyEditorsFitTypeClassAndNameAndTheLatestWins) {
  TDesignRegistry registry;
  registry.RegisterPropertyEditor<TBase>("string", "Mask", MarkedFactory<0x10>());
  registry.RegisterPropertyEditor<TDerived>("string", "mask", MarkedFactory<0x20>());
  registry.RegisterPropertyEditor<TBase>("Integer", "Mask", MarkedFactory<0x40>());  // no such
  TComponent plain(nullptr);
  TBase base(nullptr);
  TDerived derived(nullptr);
  const struct {
    TComponent* component;
    const char* property;
    unsigned expected;
  } cases[] = {
      {&base, "Mask", 0x10},     // its own class
      {&derived, "Mask", 0x20},  // a later registration on the descendant (name in any case)
      {&base, "Size", 0},        // another name: the plain editor
      {&plain, "Name", 0},       // another class
      {&base, "Tag", 0},         // an Integer property not named Mask
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AttributesOf(registry, *c.component, c.property), c.expected)
        << c.component->ClassName() << "." << c.property;
  }
  // A later registration on the base class wins over the descendant's too.
  registry.RegisterPropertyEditor<TBase>("string", "Mask", MarkedFactory<0x01>());
  EXPECT_EQ(AttributesOf(registry, derived, "Mask"), 0x01U);
}

TEST(TDesignRegistry, ForgettingAPackageTakesBackOnlyWhatItRegistered) {
  TDesignRegistry& registry = TDesignRegistry::Global();
  registry.Clear();
  registry.RegisterFor("one", [&] {
    registry.RegisterComponents<TBase>("Page");
    registry.RegisterPropertyEditor<TBase>("string", "Mask", MarkedFactory<0x10>());
  });
  registry.RegisterFor("two", [&] { registry.RegisterComponents<TDerived>("Page"); });
  EXPECT_THROW(registry.RegisterFor("three", [] { throw Exception("fails"); }), Exception);
  registry.RegisterComponents<TDataModule>("Outside");  // attributed to nobody
  ASSERT_EQ(registry.Palette().size(), 3U);
  EXPECT_EQ(registry.Palette()[0].Package, "one");
  EXPECT_EQ(registry.Palette()[2].Package, "");

  registry.Forget("one");
  ASSERT_EQ(registry.Palette().size(), 2U);
  EXPECT_EQ(registry.Palette()[0].ClassName, "TDerived");
  EXPECT_FALSE(TClassRegistry::Global().Contains("TBase"));
  EXPECT_TRUE(TClassRegistry::Global().Contains("TDerived"));
  TBase base(nullptr);
  EXPECT_EQ(AttributesOf(registry, base, "Mask"), 0U);
  registry.Forget("two");
  registry.Clear();
  EXPECT_TRUE(TClassRegistry::Global().Contains("TDataModule"));
}

}  // namespace
}  // namespace tgen
