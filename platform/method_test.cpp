#include "platform/method.h"

#include <gtest/gtest.h>

namespace tgen {
namespace {

struct Counter {
  int total = 0;
  void Add(int n) { total += n; }
  int Twice(int n) const { return 2 * n + total; }
};

TEST(TMethodRef, CallsTheBoundObjectAndSkipsWhenUnassigned) {
  Counter c;
  TMethodRef<void(int)> slot;
  EXPECT_FALSE(slot.Assigned());
  slot(5);  // skipped
  slot = TMethodRef<void(int)>(&c, &Counter::Add);
  ASSERT_TRUE(slot.Assigned());
  EXPECT_EQ(slot.Data(), &c);
  slot(5);
  slot(2);
  EXPECT_EQ(c.total, 7);
  slot.Clear();
  slot(100);
  EXPECT_EQ(c.total, 7);

  TMethodRef<int(int)> twice(&c, &Counter::Twice);
  EXPECT_EQ(twice(1), 9);
  EXPECT_EQ(TMethodRef<int(int)>()(1), 0);  // unassigned: a default result

  TMethodRef<void(int)> lambda = [&c](int n) { c.total -= n; };
  EXPECT_TRUE(lambda.Assigned());
  EXPECT_EQ(lambda.Data(), nullptr);
  lambda(7);
  EXPECT_EQ(c.total, 0);
}

}  // namespace
}  // namespace tgen
