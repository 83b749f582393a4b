// A value set for a scope comes back on every way out, nested scopes included.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "platform/rtl/scoped.h"

namespace rtl {
namespace {

TEST(ScopedAssign, RestoresOnReturnAndOnError) {
  bool sending = false;
  {
    ScopedAssign guard(sending, true);
    EXPECT_TRUE(sending);
  }
  EXPECT_FALSE(sending);

  std::function<int()> handler = [] { return 7; };
  EXPECT_THROW(
      {
        ScopedAssign off(handler, nullptr);
        EXPECT_FALSE(handler);
        throw std::runtime_error("x");
      },
      std::runtime_error);
  ASSERT_TRUE(handler);
  EXPECT_EQ(handler(), 7);
}

TEST(ScopedAssign, NestedCountersComeBackDown) {
  int depth = 0;
  {
    ScopedAssign outer(depth, depth + 1);
    {
      ScopedAssign inner(depth, depth + 1);
      EXPECT_EQ(depth, 2);
    }
    EXPECT_EQ(depth, 1);
  }
  EXPECT_EQ(depth, 0);
}

}  // namespace
}  // namespace rtl
