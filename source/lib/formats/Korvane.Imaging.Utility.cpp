#include "Korvane.Imaging.Utility.h"

#include <cstring>

namespace korvane {

float HalfToFloat(uint16_t AHalf)
{
    const uint32_t sign = uint32_t(AHalf & 0x8000) << 16;
    int32_t exponent = (AHalf >> 10) & 0x1F;
    uint32_t mantissa = AHalf & 0x3FF;
    uint32_t bits;
    if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else {
            // A subnormal: shift until the implicit bit appears.
            while (!(mantissa & 0x400)) {
                mantissa <<= 1;
                --exponent;
            }
            ++exponent;
            mantissa &= 0x3FF;
            bits = sign | (uint32_t(exponent + 112) << 23) | (mantissa << 13);
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else {
        bits = sign | (uint32_t(exponent + 112) << 23) | (mantissa << 13);
    }
    float result;
    std::memcpy(&result, &bits, 4);
    return result;
}

uint16_t FloatToHalf(float AValue)
{
    uint32_t bits;
    std::memcpy(&bits, &AValue, 4);
    const uint32_t sign = (bits >> 16) & 0x8000;
    const int32_t rawExponent = int32_t((bits >> 23) & 0xFF);
    uint32_t mantissa = bits & 0x7FFFFF;

    if (rawExponent == 255) {
        if (mantissa == 0) return uint16_t(sign | 0x7C00);
        uint32_t top = mantissa >> 13;
        if (top == 0) top = 1; // a NaN must not turn into an infinity
        return uint16_t(sign | 0x7C00 | top);
    }
    const int32_t exponent = rawExponent - 112;
    if (exponent <= 0) {
        if (exponent < -10) return 0;
        mantissa = (mantissa | 0x800000) >> (1 - exponent);
        if (mantissa & 0x1000) mantissa += 0x2000;
        return uint16_t(sign | (mantissa >> 13));
    }
    // A carry out of the rounded mantissa raises the exponent by itself.
    const uint32_t value = (uint32_t(exponent) << 10) + ((mantissa + 0x1000) >> 13);
    if (value >= 0x7C00) return uint16_t(sign | 0x7C00);
    return uint16_t(sign | value);
}

} // namespace korvane
