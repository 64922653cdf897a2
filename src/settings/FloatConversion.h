#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

// Conversions at the edges of the 32-bit and integer ranges. A plain cast of
// an out-of-range value is undefined behaviour; these round as IEEE 754 does
// and saturate where a result has no infinity.
namespace floatconv {

// Smallest double magnitude that rounds to infinity as a float (halfway
// between FLT_MAX and 2^128; the tie goes to the even infinity).
inline constexpr double kFloatOverflow = 0x1p128 - 0x1p103;

// Round to nearest, overflowing to ±infinity; NaN stays NaN.
inline float narrowToFloat(double value)
{
    constexpr double maxFloat = std::numeric_limits<float>::max();
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    if (value >= kFloatOverflow)
        return std::numeric_limits<float>::infinity();
    if (value <= -kFloatOverflow)
        return -std::numeric_limits<float>::infinity();
    if (value > maxFloat)
        return std::numeric_limits<float>::max();
    if (value < -maxFloat)
        return -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

// The float a number stands for, or nothing when it is not finite as a float.
inline std::optional<float> finiteFloat(double value)
{
    if (!std::isfinite(value) || std::fabs(value) >= kFloatOverflow)
        return std::nullopt;
    return narrowToFloat(value);
}

// Truncation toward zero, saturating at the int64 limits; NaN gives 0.
inline int64_t truncateToInt64(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 0x1p63f)
        return std::numeric_limits<int64_t>::max();
    if (value < -0x1p63f)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

}  // namespace floatconv
