#pragma once
// Every rtl test runs with the Brazilian Portuguese settings, restored before each test.

#include <gtest/gtest.h>

#include "platform/rtl/format.h"

namespace rtl::test {

class PtBr : public ::testing::Test {
protected:
  void SetUp() override { SetFormatSettings(TFormatSettings::BrazilianPortuguese()); }
  void TearDown() override { SetFormatSettings(TFormatSettings::BrazilianPortuguese()); }
};

// The current year, for two-digit years and dates without a year.
inline int ThisYear() { return DecodeDate(Date()).year; }

}  // namespace rtl::test
