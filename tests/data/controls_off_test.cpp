// The guard that keeps a data set's controls still for a scope: they follow
// the data set again on every way out, and an error of theirs is not lost.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/data/controls_off.h"

using namespace data;

namespace {

struct ControlsOffTest : ::testing::Test {
  TClientDataSet a{"cdsA"}, b{"cdsB"};
  TDataSource srcA, srcB;
  std::string seen;

  void SetUp() override {
    for (TClientDataSet* ds : {&a, &b}) {
      ds->FieldDefs() = {{"CODIGO", TFieldType::String, 5}};
      ds->CreateDataSet();
      ds->Append();
      ds->FieldByName("CODIGO").SetAsString("X");
      ds->Post();
    }
    srcA.SetDataSet(&a);
    srcB.SetDataSet(&b);
    srcA.OnDataChange = [this](TDataSource&, TField*) { seen += "A"; };
    srcB.OnDataChange = [this](TDataSource&, TField*) { seen += "B"; };
  }
};

TEST_F(ControlsOffTest, EnablesInTheOrderGivenAndOnAnError) {
  {
    ControlsOff off{&a, &b};
    EXPECT_TRUE(a.ControlsDisabled());
    EXPECT_TRUE(b.ControlsDisabled());
    a.First();
    EXPECT_EQ(seen, "");
  }
  EXPECT_EQ(seen, "AB");
  EXPECT_FALSE(a.ControlsDisabled());
  EXPECT_FALSE(b.ControlsDisabled());

  EXPECT_THROW(
      {
        ControlsOff off(a);
        throw std::runtime_error("carga");
      },
      std::runtime_error);
  EXPECT_FALSE(a.ControlsDisabled());
}

TEST_F(ControlsOffTest, AControlsErrorPassesOnUnlessTheScopeAlreadyFailed) {
  srcA.OnDataChange = [](TDataSource&, TField*) { throw std::logic_error("grade"); };
  std::string reported;
  try {
    ControlsOff off{&a, &b};
  } catch (const std::logic_error& e) {
    reported = e.what();
  }
  EXPECT_EQ(reported, "grade");
  // The second data set is enabled even though the first one's controls failed.
  EXPECT_FALSE(b.ControlsDisabled());
  EXPECT_EQ(seen, "B");

  try {
    ControlsOff off(a);
    throw std::runtime_error("carga");
  } catch (const std::exception& e) {
    reported = e.what();
  }
  EXPECT_EQ(reported, "carga");  // the first error stays the one reported
  EXPECT_FALSE(a.ControlsDisabled());
}

}  // namespace
