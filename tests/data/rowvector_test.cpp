// The row arrays: once large they live in a reservation of address space and
// grow in place, so an append never waits for megabytes to move.

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/data/rowvector.h"

using namespace data::detail;

namespace {

size_t mapped() { return rowVectorMappedBytes.load(); }

TEST(RowVector, GrowsInPlaceOnceMappedAndKeepsEveryValue) {
  const size_t before = mapped();
  {
    RowVector<int32_t> v;
    const int32_t* home = nullptr;
    for (int32_t i = 0; i < 2'000'000; ++i) {
      v.push_back(i * 3);
      if (!home && v.capacity() * sizeof(int32_t) >= (64 << 10)) home = v.data();
      if (home) ASSERT_EQ(v.data(), home) << "moved at " << i;
    }
    for (int32_t i = 0; i < 2'000'000; ++i) ASSERT_EQ(v[static_cast<size_t>(i)], i * 3);
    EXPECT_GE(mapped() - before, v.size() * sizeof(int32_t));

    // Giving back the end keeps the values and the place.
    v.resize(100'000);
    v.shrink_to_fit();
    EXPECT_EQ(v.data(), home);
    EXPECT_LT(mapped() - before, 1u << 20);
    for (int32_t i = 0; i < 100'000; ++i) ASSERT_EQ(v[static_cast<size_t>(i)], i * 3);
    v.push_back(-1);
    EXPECT_EQ(v.back(), -1);

    RowVector<int32_t> moved(std::move(v));
    EXPECT_EQ(moved.data(), home);
    RowVector<int32_t> copy(moved);
    ASSERT_EQ(copy.size(), moved.size());
    EXPECT_EQ(copy[99'999], 99'999 * 3);
  }
  EXPECT_EQ(mapped(), before);
}

// A loaded data set's arrays are sized at once and then grow by edits and
// appends: they start in the reservation and do not move either.
TEST(RowVector, ReservedToGrowDoesNotMoveWhenAppendedTo) {
  RowVector<uint8_t> states;
  states.reserveToGrow(1'000'000);
  for (int i = 0; i < 1'000'000; ++i) states.push_back(static_cast<uint8_t>(i & 3));
  const uint8_t* home = states.data();
  for (int i = 0; i < 500'000; ++i) states.push_back(7);
  EXPECT_EQ(states.data(), home);
  EXPECT_EQ(states[999'999], 3);
  EXPECT_EQ(states[1'499'999], 7);
}

// Past the end of its reservation the array moves once to a larger one,
// values intact.
TEST(RowVector, OutgrowingTheReservationKeepsEveryValue) {
  RowVector<int64_t> v;
  const size_t n = (size_t{64} << 20) / sizeof(int64_t) + 1000;
  for (size_t i = 0; i < n; ++i) v.push_back(static_cast<int64_t>(i));
  for (size_t i = 0; i < n; i += 4093) ASSERT_EQ(v[i], static_cast<int64_t>(i));
  EXPECT_EQ(v.back(), static_cast<int64_t>(n - 1));
}

}  // namespace
