// ArgsOf: a call's array is built by slot, and sends exactly the slots named.

#include <gtest/gtest.h>

#include "contracts/arguments.h"

using rtl::Variant;
namespace A = contracts::args;

TEST(ArgsOf, PutsEachValueInItsSlotWhateverTheOrderItIsNamedIn) {
  using U = A::UpdEfetClie;
  rtl::VariantArray a = contracts::ArgsOf<U>({{U::kFilial, "0001"},
                                              {U::kClientes, Variant::Null()},
                                              {U::kData, Variant::FromDate(45000)},
                                              {U::kServico, "00010"}});
  ASSERT_EQ(a.size(), 4u);
  EXPECT_TRUE(a[0].isNull());
  EXPECT_EQ(a[1].toString(), "0001");
  EXPECT_EQ(a[2].toString(), "00010");
  EXPECT_EQ(a[3].toDateTime(), 45000);
}

TEST(ArgsOf, RefusesASlotNamedTwiceOrOneSkipped) {
  using G = A::GetServiFat;
  EXPECT_THROW(contracts::ArgsOf<G>({{G::kFilial, "0001"}, {G::kFilial, "0002"}}), std::logic_error);
  // kServico skipped: the array would send Empty where the server reads the service.
  EXPECT_THROW(contracts::ArgsOf<G>({{G::kFilial, "0001"}, {G::kData, Variant::FromDate(1)}}), std::logic_error);
  EXPECT_TRUE(contracts::ArgsOf<G>({}).empty());
}
