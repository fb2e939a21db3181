#pragma once
// Small numeric routines of the image library: clamping, rounding as the pixel
// formulas need it, and IEEE 754 half floats.

#include <cmath>
#include <cstdint>

namespace korvane {

inline int32_t ClampInt(int32_t AValue, int32_t AMin, int32_t AMax)
{
    return AValue < AMin ? AMin : (AValue > AMax ? AMax : AValue);
}

// Rounds to the nearest integer, halves to even; NaN gives 0 and values beyond
// the 32-bit range the nearest end of it, so pixel formulas never overflow.
inline int32_t RoundInt(float AValue)
{
    if (!(AValue == AValue)) return 0;
    if (AValue >= 2147483520.0f) return INT32_MAX;
    if (AValue <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(std::nearbyint(AValue));
}

// clamp(Round(AValue), 0, 255) and clamp(Round(AValue), 0, 65535).
inline uint8_t ClampToByte(float AValue) { return static_cast<uint8_t>(ClampInt(RoundInt(AValue), 0, 255)); }
inline uint16_t ClampToWord(float AValue) { return static_cast<uint16_t>(ClampInt(RoundInt(AValue), 0, 65535)); }

// Binary16 to single: zeros, subnormals (normalised), infinities and NaNs.
float HalfToFloat(uint16_t AHalf);
// Single to binary16, rounding the mantissa half up. Values too small for a
// subnormal and both zeros give +0; values too large give infinity; a NaN
// keeps its top ten mantissa bits (and stays a NaN).
uint16_t FloatToHalf(float AValue);

} // namespace korvane
