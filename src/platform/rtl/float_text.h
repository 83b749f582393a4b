#pragma once
// The platform's FloatToText, shared by FloatToStr and FormatFloat
// (float_text.cpp) and by Format's %e, %f, %g, %n and %m (format.cpp).

#include <string>

#include "format.h"

namespace rtl::detail {

enum class FloatFormat { General, Exponent, Fixed, Number, Currency };

// precision is clamped to 2..18; digits are the decimals (Fixed, Number,
// Currency) or the least exponent digits (General, Exponent).
std::string floatToText(double v, FloatFormat format, int precision, int digits, const TFormatSettings& fs);

}  // namespace rtl::detail
