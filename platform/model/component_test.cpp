#include "platform/model/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/model/datamodule.h"

namespace tgen {
namespace {

// Notes the order in which components are freed.
class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, std::string label, std::vector<std::string>& freed)
      : TComponent(owner), label_(std::move(label)), freed_(freed) {}
  ~Tracked() override { freed_.push_back(label_); }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

 private:
  std::string label_;
  std::vector<std::string>& freed_;
};

TEST(TComponent, OwnerFreesWhatItOwnsLatestFirst) {
  std::vector<std::string> freed;
  {
    auto root = std::make_unique<Tracked>(nullptr, "root", freed);
    new Tracked(root.get(), "a", freed);
    auto* b = new Tracked(root.get(), "b", freed);
    new Tracked(b, "b1", freed);
    new Tracked(root.get(), "c", freed);
    auto* d = new Tracked(root.get(), "d", freed);
    EXPECT_EQ(root->ComponentCount(), 4);

    delete d;  // leaves its owner's list
    EXPECT_EQ(root->ComponentCount(), 3);
  }
  // A component's own destructor runs before its owned components go.
  EXPECT_EQ(freed, (std::vector<std::string>{"d", "root", "c", "b", "b1", "a"}));
}

TEST(TComponent, NamesAreIdentifiersUniqueWithinTheirOwner) {
  TDataModule form;
  auto* a = new TComponent(&form);
  auto* b = new TComponent(&form);
  a->SetName("Generator1");
  EXPECT_EQ(form.FindComponent("GENERATOR1"), a);
  EXPECT_THROW(b->SetName("generator1"), Exception);
  for (const char* bad : {"1abc", "a b", "a-b", "\xC0"})
    EXPECT_THROW(b->SetName(bad), Exception);
  a->SetName("GENERATOR1");  // its own name in another case
  EXPECT_EQ(a->Name(), "GENERATOR1");
  b->SetName("Generator2");
  b->SetName("");
  EXPECT_EQ(form.FindComponent(""), nullptr);
}

TEST(TComponent, PublishedMethodsAreFoundByName) {
  TDataModule form;
  int calls = 0;
  form.PublishMethod("Ping", TMethodRef<void(int)>([&](int n) { calls += n; }));
  const std::any* m = form.FindMethod("PING");
  ASSERT_NE(m, nullptr);
  const auto* ref = std::any_cast<TMethodRef<void(int)>>(m);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->Name(), "Ping");
  (*ref)(3);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(form.FindMethod("Pong"), nullptr);
  EXPECT_THROW(form.PublishMethod("no name", TMethodRef<void(int)>()), Exception);
  EXPECT_EQ(form.MethodNames(), std::vector<std::string>{"Ping"});
}

}  // namespace
}  // namespace tgen
