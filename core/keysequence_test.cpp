#include "core/keysequence.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/store/memorystore.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

TErrorKind KindOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.Kind();
  }
  ADD_FAILURE() << "no exception";
  return TErrorKind::kFailed;
}

TEST(KeySequence, DrawsWithoutSetUpAndSaysWhyNotByKind) {
  const testing::ScratchFolder dir("keysequence");
  TMemoryStore::Instance()->Reset();
  TSequenceOptions o{.Mask = "K-#", .Alias = "memory:facade", .Table = "KEYS", .CreateTable = true};
  KeySequence keys(o);
  EXPECT_EQ(keys.Next(), "K-0");
  EXPECT_EQ(keys.Next(3), (std::vector<std::string>{"K-1", "K-2", "K-3"}));
  KeySequence moved = std::move(keys);  // its handlers go with it
  EXPECT_EQ(moved.Undo(), "K-2");
  KeySequence other(o);
  EXPECT_EQ(other.Next(), "K-3");
  EXPECT_EQ(KindOf([&] { moved.Undo(); }), TErrorKind::kUndoRefused);
  for (int i = 4; i <= 9; ++i)
    other.Next();
  EXPECT_EQ(KindOf([&] { other.Next(); }), TErrorKind::kBadInput);  // the end: no key again

  o.Mask = "AB[";
  EXPECT_EQ(KindOf([&] { KeySequence bad(o); }), TErrorKind::kBadInput);
  o.Mask = "##";
  o.Table = "NONE";
  o.CreateTable = false;
  EXPECT_EQ(KindOf([&] { KeySequence bad(o); }), TErrorKind::kUnavailable);
}

}  // namespace
}  // namespace tgen
