// Pixel conversion between the format classes, half floats, colour reduction,
// the filter kernels, the mapping tables and the stretches.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ImagingTestHelpers.h"
#include "Korvane.Imaging.Utility.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::vector<uint8_t> FloatPixel(float AB, float AG, float AR, float AA)
{
    std::vector<uint8_t> out(16);
    const float values[4] = {AB, AG, AR, AA};
    std::memcpy(out.data(), values, 16);
    return out;
}

TEST(ImagingConversion, PixelTable)
{
    const std::vector<uint8_t> noPalette;
    const struct {
        const char* Name;
        TImageFormat From;
        std::vector<uint8_t> Pixel;
        std::vector<uint8_t> Palette; // first entries of an Index8 source (B, G, R, A)
        TImageFormat To;
        std::vector<uint8_t> Expect;
    } cases[] = {
        // Bit-field channels widen as channel8 shl 8; 8-bit channels narrow as x 255 div 65535.
        {"R5G6B5 white to A8R8G8B8", ifR5G6B5, {0xFF, 0xFF}, noPalette, ifA8R8G8B8, {254, 254, 254, 255}},
        {"R5G6B5 to A1R5G5B5", ifR5G6B5, {0x1F, 0xF8}, noPalette, ifA1R5G5B5, {0x1F, 0xFC}},
        {"Gray8 to Gray16", ifGray8, {255}, noPalette, ifGray16, {0x00, 0xFF}},
        {"Gray8 to A16Gray16", ifGray8, {255}, noPalette, ifA16Gray16, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"Gray16 to Gray8", ifGray16, {0xCD, 0xAB}, noPalette, ifGray8, {0xAB}},
        {"Gray8 to X8R8G8B8", ifGray8, {77}, noPalette, ifX8R8G8B8, {77, 77, 77, 0}},
        {"Gray8 to A8R8G8B8", ifGray8, {77}, noPalette, ifA8R8G8B8, {77, 77, 77, 255}},
        {"A8Gray8 to A16R16G16B16", ifA8Gray8, {255, 0}, noPalette, ifA16R16G16B16,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
        {"Gray8 to Index8", ifGray8, {200}, noPalette, ifIndex8, {200}},
        {"Gray16 to Index8", ifGray16, {0xFF, 0x12}, noPalette, ifIndex8, {0x12}},
        {"Index8 to X8R8G8B8 via 16 bits", ifIndex8, {0}, {255, 255, 255, 255}, ifX8R8G8B8, {254, 254, 254, 254}},
        {"Index8 to A8R8G8B8 copies", ifIndex8, {1}, {0, 0, 0, 0, 10, 20, 30, 40}, ifA8R8G8B8, {10, 20, 30, 40}},
        {"Index8 to R8G8B8 copies", ifIndex8, {0}, {10, 20, 30, 40}, ifR8G8B8, {10, 20, 30}},
        {"Index8 to Gray8", ifIndex8, {0}, {0, 0, 255, 255}, ifGray8, {76}},
        {"Index8 to A8Gray8", ifIndex8, {0}, {255, 255, 255, 255}, ifA8Gray8, {255, 254}},
        {"R8G8B8 to A8R8G8B8", ifR8G8B8, {1, 2, 3}, noPalette, ifA8R8G8B8, {1, 2, 3, 255}},
        {"A8R8G8B8 to R8G8B8", ifA8R8G8B8, {1, 2, 3, 4}, noPalette, ifR8G8B8, {1, 2, 3}},
        {"A8R8G8B8 red to Gray8", ifA8R8G8B8, {0, 0, 255, 9}, noPalette, ifGray8, {76}},
        {"A8R8G8B8 to A8Gray8", ifA8R8G8B8, {255, 255, 255, 9}, noPalette, ifA8Gray8, {255, 9}},
        {"floats clamp into channels", ifA32R32G32B32F, FloatPixel(0.5f, -1.0f, 2.0f, 1.0f), noPalette, ifA8R8G8B8,
         {127, 0, 255, 255}},
        {"half float 65504", ifA32R32G32B32F, FloatPixel(0, 0, 65504.0f, 1), noPalette, ifR16F, {0xFF, 0x7B}},
        {"half float 1.0", ifA32R32G32B32F, FloatPixel(0, 0, 1.0f, 1), noPalette, ifR16F, {0x00, 0x3C}},
        {"half float -0.0", ifA32R32G32B32F, FloatPixel(0, 0, -0.0f, 1), noPalette, ifR16F, {0x00, 0x00}},
        {"R/B swapped floats", ifA32R32G32B32F, FloatPixel(1, 2, 3, 4), noPalette, ifA32B32G32R32F,
         FloatPixel(3, 2, 1, 4)},
        {"float to Gray16", ifA32R32G32B32F, FloatPixel(1, 1, 1, 1), noPalette, ifGray16, {0xFF, 0xFF}},
        {"X5R1G1B1 to A8R8G8B8", ifX5R1G1B1, {0x05}, noPalette, ifA8R8G8B8, {254, 0, 254, 255}},
    };
    for (const auto& c : cases) {
        TestImage image(1, 1, c.From, c.Pixel);
        if (!c.Palette.empty()) std::memcpy(image.Data.Palette, c.Palette.data(), c.Palette.size());
        ASSERT_TRUE(ConvertImageData(image.Data, c.To)) << c.Name;
        EXPECT_EQ(image.Data.Format, c.To) << c.Name;
        EXPECT_EQ(image.Vector(), c.Expect) << c.Name;
    }
}

TEST(ImagingConversion, GrayToIndexFillsAGrayRamp)
{
    TestImage image(1, 1, ifGray8, {9});
    ASSERT_TRUE(ConvertImageData(image.Data, ifIndex8));
    for (int i = 0; i < 256; ++i) EXPECT_EQ(image.Data.Palette[i].Color, 0xFF000000u + uint32_t(i) * 0x010101u);
}

TEST(ImagingConversion, SwapPartnersExchangeInPlace)
{
    TestImage image(1, 1, ifA16R16G16B16, {1, 0, 2, 0, 3, 0, 4, 0});
    void* bits = image.Data.Bits;
    ASSERT_TRUE(ConvertImageData(image.Data, ifA16B16G16R16));
    EXPECT_EQ(image.Data.Bits, bits);
    EXPECT_EQ(image.Vector(), (std::vector<uint8_t>{3, 0, 2, 0, 1, 0, 4, 0}));
    // Read through the swapped format, the colour is unchanged.
    const TColor64Rec c = ChannelGetSrcPixel(image.Bytes(), *FindPixelFormatInfo(ifA16B16G16R16));
    EXPECT_EQ(c.B, 1);
    EXPECT_EQ(c.R, 3);
}

TEST(ImagingConversion, BitFieldRoundTrips)
{
    // Every opaque A1R5G5B5 pixel survives R5G6B5 and back.
    for (uint32_t v = 0x8000; v <= 0xFFFF; ++v) {
        TestImage image(1, 1, ifA1R5G5B5, {uint8_t(v), uint8_t(v >> 8)});
        ConvertImageData(image.Data, ifR5G6B5);
        ConvertImageData(image.Data, ifA1R5G5B5);
        const uint32_t back = image.Bytes()[0] | (uint32_t(image.Bytes()[1]) << 8);
        ASSERT_EQ(back, v) << std::hex << v;
    }
    // R5G6B5 to A1R5G5B5 and back keeps red and blue exactly; green keeps
    // its five high bits.
    for (uint32_t v = 0; v <= 0xFFFF; v += 7) {
        TestImage image(1, 1, ifR5G6B5, {uint8_t(v), uint8_t(v >> 8)});
        ConvertImageData(image.Data, ifA1R5G5B5);
        EXPECT_EQ(image.Bytes()[1] & 0x80, 0x80) << "opaque";
        ConvertImageData(image.Data, ifR5G6B5);
        const uint32_t back = image.Bytes()[0] | (uint32_t(image.Bytes()[1]) << 8);
        ASSERT_EQ(back & 0xF81F, v & 0xF81F) << std::hex << v;
        ASSERT_EQ((back >> 6) & 31, (v >> 6) & 31) << std::hex << v;
    }
}

// An A8R8G8B8 image with colours that AFormat can hold, and the largest
// channel difference its round trip through AFormat may show.
struct RoundTripCase {
    TImageFormat Format;
    int Tolerance;
    const char* Why;
};

uint32_t RepresentableColor(TImageFormat AFormat, std::mt19937& ARandom)
{
    const TImageFormatDescriptor& info = *FindPixelFormatInfo(AFormat);
    const uint32_t r = ARandom();
    uint8_t a = uint8_t(r >> 24), red = uint8_t(r >> 16), g = uint8_t(r >> 8), b = uint8_t(r);
    if (info.HasBitFields) {
        const TBitFieldLayout& l = *info.BitFields;
        auto q = [](uint8_t v, uint8_t bits, uint8_t max) { return bits ? uint8_t((v >> (8 - bits)) * 255 / max) : 0; };
        red = q(red, l.RBits, l.RMax);
        g = q(g, l.GBits, l.GMax);
        b = q(b, l.BBits, l.BMax);
        a = l.ABits ? q(a, l.ABits, l.AMax) : 255;
    }
    if (info.IsGray || AFormat == ifBTC || AFormat == ifATI1N) red = g = b;
    if (AFormat == ifR32F || AFormat == ifR16F) g = b = 0;
    if (AFormat == ifATI2N) b = 0;
    if (!info.HasAlpha && !info.IsIndexed) a = 255;
    return (uint32_t(a) << 24) | (uint32_t(red) << 16) | (uint32_t(g) << 8) | b;
}

// Every format converts from A8R8G8B8 and back. Formats that hold 8 bits per
// channel or more come back exactly; the bit-field formats and half floats
// come back within one step (their 16-bit intermediates narrow by truncation).
// Block formats get images of two colours per block, which they hold exactly.
TEST(ImagingConversion, EveryFormatRoundTripsThroughA8R8G8B8)
{
    const RoundTripCase cases[] = {
        {ifIndex8, 0, "at most 256 colours map to themselves"},
        {ifGray8, 0, ""}, {ifA8Gray8, 0, ""}, {ifGray16, 0, ""}, {ifGray32, 0, ""}, {ifGray64, 0, ""},
        {ifA16Gray16, 0, ""},
        {ifX5R1G1B1, 1, "255 widens to 65280 and narrows to 254"},
        {ifR3G3B2, 1, "as above"}, {ifR5G6B5, 1, "as above"}, {ifA1R5G5B5, 1, "as above"},
        {ifA4R4G4B4, 1, "as above"}, {ifX1R5G5B5, 1, "as above"}, {ifX4R4G4B4, 1, "as above"},
        {ifR8G8B8, 0, ""}, {ifA8R8G8B8, 0, ""}, {ifX8R8G8B8, 0, ""},
        {ifR16G16B16, 0, ""}, {ifA16R16G16B16, 0, ""}, {ifB16G16R16, 0, ""}, {ifA16B16G16R16, 0, ""},
        {ifR32F, 0, ""}, {ifA32R32G32B32F, 0, ""}, {ifA32B32G32R32F, 0, ""},
        {ifR16F, 1, "half precision rounds below x/255 at times"},
        {ifA16R16G16B16F, 1, "as above"}, {ifA16B16G16R16F, 1, "as above"},
        {ifDXT1, 0, "two colours per block are the endpoints"},
        {ifDXT3, 17, "alpha keeps its high nibble"},
        {ifDXT5, 0, "two alphas per block are the ramp ends"},
        {ifBTC, 0, "two levels per block"}, {ifATI1N, 0, ""}, {ifATI2N, 0, ""},
    };
    EXPECT_EQ(std::size(cases), 33u);
    for (const RoundTripCase& c : cases) {
        const TImageFormatDescriptor& info = *FindPixelFormatInfo(c.Format);
        std::mt19937 random{uint32_t(c.Format)};
        const int32_t w = 16, h = 8;
        TestImage image(w, h, ifA8R8G8B8);
        uint32_t* px = static_cast<uint32_t*>(image.Data.Bits);
        if (info.IsBlockCompressed) {
            // Two colours per 4 x 4 block, chosen from 5:6:5 endpoints.
            for (int32_t by = 0; by < h / 4; ++by)
                for (int32_t bx = 0; bx < w / 4; ++bx) {
                    uint32_t two[2];
                    for (uint32_t& col : two) {
                        const uint32_t r = random();
                        const uint32_t red = ((r >> 11) & 31) * 255 / 31, g = ((r >> 5) & 63) * 255 / 63,
                                       b = (r & 31) * 255 / 31;
                        col = (uint32_t(r >> 24) << 24) | (red << 16) | (g << 8) | b;
                        if (c.Format == ifDXT1) col |= 0xFF000000u;
                        if (c.Format == ifBTC || c.Format == ifATI1N) col = 0xFF000000u | (red * 0x010101u);
                        if (c.Format == ifATI2N) col = 0xFF000000u | (col & 0x00FFFF00u);
                    }
                    for (int32_t j = 0; j < 16; ++j)
                        px[(by * 4 + j / 4) * w + bx * 4 + j % 4] = two[(random() >> 7) & 1];
                }
        } else {
            // Index8 gets at most 256 colours.
            std::vector<uint32_t> colours;
            for (int i = 0; i < (info.IsIndexed ? 40 : w * h); ++i) colours.push_back(RepresentableColor(c.Format, random));
            for (int32_t i = 0; i < w * h; ++i) px[i] = colours[size_t(i) % colours.size()];
        }
        const std::vector<uint8_t> original = image.Vector();
        ASSERT_TRUE(ConvertImageData(image.Data, c.Format)) << info.Name;
        ASSERT_EQ(image.Data.Format, c.Format);
        ASSERT_TRUE(ConvertImageData(image.Data, ifA8R8G8B8)) << info.Name;
        ASSERT_EQ(image.Data.Size, int32_t(original.size())) << info.Name;
        int worst = 0;
        const std::vector<uint8_t> back = image.Vector();
        for (size_t i = 0; i < original.size(); ++i) worst = std::max(worst, std::abs(int(back[i]) - int(original[i])));
        EXPECT_LE(worst, c.Tolerance) << info.Name << ": " << c.Why;
    }
}

TEST(ImagingConversion, EightBitFormatsRoundTripExactlyFromTheirOwnSide)
{
    // Starting in the format: through A8R8G8B8 and back gives the same bytes.
    for (TImageFormat format : {ifGray8, ifA8Gray8, ifR8G8B8, ifX8R8G8B8, ifA8R8G8B8, ifA32R32G32B32F}) {
        std::mt19937 random{uint32_t(format)};
        TestImage image(8, 8, format);
        const bool isFloat = format == ifA32R32G32B32F;
        for (int32_t i = 0; i < image.Data.Size; ++i) image.Bytes()[i] = uint8_t(random());
        if (isFloat) {
            float* f = static_cast<float*>(image.Data.Bits);
            for (int i = 0; i < 8 * 8 * 4; ++i) f[i] = float(random() % 256) / 255.0f;
        }
        if (format == ifX8R8G8B8)
            for (int32_t i = 3; i < image.Data.Size; i += 4) image.Bytes()[i] = 255;
        const std::vector<uint8_t> original = image.Vector();
        ConvertImageData(image.Data, ifA8R8G8B8);
        ConvertImageData(image.Data, format);
        if (isFloat) {
            const float* a = reinterpret_cast<const float*>(original.data());
            const float* b = static_cast<const float*>(image.Data.Bits);
            for (int i = 0; i < 8 * 8 * 4; ++i) ASSERT_NEAR(a[i], b[i], 1e-6f) << i;
        } else {
            EXPECT_EQ(image.Vector(), original) << GetPixelFormatName(format);
        }
    }
}

TEST(ImagingHalfFloat, EncodeAndDecode)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float Value;
        uint16_t Half;
    } encode[] = {
        {65504.0f, 0x7BFF}, {1.0f, 0x3C00},      {-0.0f, 0x0000},      {0.0f, 0x0000},       {-1.0f, 0xBC00},
        {0.5f, 0x3800},     {65520.0f, 0x7C00},  {1e10f, 0x7C00},      {inf, 0x7C00},        {-inf, 0xFC00},
        {5.9604645e-8f, 0x0001}, {6.1035156e-5f, 0x0400}, {-6.1035156e-5f, 0x8400}, {1e-10f, 0x0000},
        // Halfway mantissas round up; a carry raises the exponent.
        {1.000244140625f, 0x3C00}, {1.00048828125f, 0x3C01}, {1.0009765625f, 0x3C01}, {2047.5f, 0x6800},
    };
    for (const auto& c : encode) EXPECT_EQ(FloatToHalf(c.Value), c.Half) << c.Value;
    EXPECT_EQ(FloatToHalf(std::numeric_limits<float>::quiet_NaN()) & 0x7C00, 0x7C00);
    EXPECT_NE(FloatToHalf(std::numeric_limits<float>::quiet_NaN()) & 0x03FF, 0);

    EXPECT_EQ(HalfToFloat(0x7BFF), 65504.0f);
    EXPECT_EQ(HalfToFloat(0x0001), 5.9604645e-8f);
    EXPECT_EQ(HalfToFloat(0x3555), 0.333251953125f);
    EXPECT_EQ(HalfToFloat(0xFC00), -inf);
    EXPECT_TRUE(std::isnan(HalfToFloat(0x7E00)));

    // Every half but the NaNs and -0 (which encodes as +0) survives a round trip.
    for (uint32_t h = 0; h <= 0xFFFF; ++h) {
        if ((h & 0x7C00) == 0x7C00 && (h & 0x3FF)) continue;
        const uint16_t back = FloatToHalf(HalfToFloat(uint16_t(h)));
        ASSERT_EQ(back, h == 0x8000 ? 0 : h) << std::hex << h;
    }
}

TEST(ImagingColorReduction, PaletteByFrequencyPaddedWithBlack)
{
    // Three colours, seen 9, 5 and 2 times.
    std::vector<uint32_t> pixels(16, 0xFF0000FFu);
    for (int i = 9; i < 14; ++i) pixels[size_t(i)] = 0xFF00FF00u;
    pixels[14] = pixels[15] = 0x80FF0000u;
    TestImage image(4, 4, ifA8R8G8B8);
    std::memcpy(image.Data.Bits, pixels.data(), 64);
    ASSERT_TRUE(ConvertImageData(image.Data, ifIndex8));
    const TColor32Rec* palette = image.Data.Palette;
    EXPECT_EQ(palette[0].Color, 0xFF0000FFu);
    EXPECT_EQ(palette[1].Color, 0xFF00FF00u);
    EXPECT_EQ(palette[2].Color, 0x80FF0000u);
    for (int i = 3; i < 256; ++i) ASSERT_EQ(palette[i].Color, 0xFF000000u) << i;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(palette[image.Bytes()[i]].Color, pixels[size_t(i)]) << i;
}

TEST(ImagingColorReduction, ManyColoursAndTheChannelMask)
{
    std::mt19937 random(5);
    TestImage image(64, 64, ifA8R8G8B8);
    uint32_t* px = static_cast<uint32_t*>(image.Data.Bits);
    for (int i = 0; i < 64 * 64; ++i) px[i] = 0xFF000000u | (random() & 0xFFFFFF);
    const std::vector<uint8_t> original = image.Vector();
    ASSERT_TRUE(ConvertImageData(image.Data, ifIndex8));
    // Every pixel maps to an entry near it; the palette is ordered by how often entries are used.
    std::vector<int> uses(256);
    for (int i = 0; i < 64 * 64; ++i) {
        const uint8_t index = image.Bytes()[i];
        ++uses[index];
        const TColor32Rec e = image.Data.Palette[index];
        const uint8_t* o = &original[size_t(i) * 4];
        EXPECT_LE(std::abs(e.B - o[0]) + std::abs(e.G - o[1]) + std::abs(e.R - o[2]), 3 * 64) << i;
    }
    EXPECT_GT(std::count_if(uses.begin(), uses.end(), [](int u) { return u > 0; }), 200);
    EXPECT_TRUE(std::is_sorted(uses.rbegin(), uses.rend()));

    // With the mask 0xF0, colours differing only in low nibbles share an entry.
    const int32_t saved = GColorReductionMask;
    GColorReductionMask = 0xF0;
    TestImage masked(2, 1, ifA8R8G8B8);
    static_cast<uint32_t*>(masked.Data.Bits)[0] = 0xFF102030u;
    static_cast<uint32_t*>(masked.Data.Bits)[1] = 0xFF1F2F3Fu;
    ConvertImageData(masked.Data, ifIndex8);
    GColorReductionMask = saved;
    EXPECT_EQ(masked.Bytes()[0], masked.Bytes()[1]);
    EXPECT_EQ(masked.Data.Palette[1].Color, 0xFF000000u);
}

TEST(ImagingKernels, ValuesAndRadii)
{
    const struct {
        TFilterKernel Kernel;
        float X, Value;
    } cases[] = {
        {fkBox, 0.5f, 1.0f},         {fkBox, -0.5f, 0.0f},         {fkBox, 0.0f, 1.0f},
        {fkTriangle, 0.25f, 0.75f},  {fkTriangle, -1.0f, 0.0f},    {fkCosine, 0.5f, 0.5f},
        {fkHermite, 0.5f, 0.5f},     {fkQuadratic, 0.0f, 0.75f},   {fkQuadratic, 1.0f, 0.125f},
        {fkGaussian, 0.0f, 0.7978846f}, {fkGaussian, 3.0f, 1.2140e-8f}, {fkBSpline, 0.0f, 2.0f / 3.0f},
        {fkBSpline, 1.0f, 1.0f / 6.0f}, {fkLanczos, 0.0f, 1.0f},      {fkLanczos, 1.5f, -0.1350949f},
        {fkLanczos, 3.0f, 0.0f},     {fkMitchell, 0.0f, 8.0f / 9.0f}, {fkMitchell, 1.0f, 1.0f / 18.0f},
        {fkCatmullRom, 0.0f, 1.0f},  {fkCatmullRom, 0.5f, 0.5625f}, {fkCatmullRom, 1.5f, -0.0625f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(FilterKernelFunction(c.Kernel)(c.X), c.Value, 1e-6f) << c.Kernel << " at " << c.X;
    const float radii[] = {1, 1, 1, 1, 1.5f, 1.25f, 2, 3, 2, 2};
    for (int32_t k = 0; k < FilterKernelCount; ++k) EXPECT_EQ(FilterKernelRadius(k), radii[k]) << k;
    EXPECT_EQ(FilterKernelFunction(10), nullptr);
    EXPECT_EQ(FilterKernelRadius(-1), 0.0f);
}

TEST(ImagingMappingTable, TriangleUpsamplingAndEdges)
{
    const TMappingTable table = BuildMappingTable(0, 4, 0, 2, FilterKernelFunction(fkTriangle), 1.0f);
    ASSERT_EQ(table.size(), 4u);
    auto weightOf = [](const TCluster& c, int32_t pos) {
        float w = 0;
        for (const TPointRec& e : c)
            if (e.Pos == pos) w += e.Weight;
        return w;
    };
    EXPECT_FLOAT_EQ(weightOf(table[1], 0), 0.75f);
    EXPECT_FLOAT_EQ(weightOf(table[1], 1), 0.25f);
    EXPECT_FLOAT_EQ(weightOf(table[2], 0), 0.25f);
    EXPECT_FLOAT_EQ(weightOf(table[2], 1), 0.75f);
    EXPECT_FLOAT_EQ(weightOf(table[0], 0), 1.0f); // clamped to the edge pixel
    EXPECT_FLOAT_EQ(weightOf(table[3], 1), 1.0f);

    // Empty ranges give empty tables; a single source position serves every destination.
    EXPECT_TRUE(BuildMappingTable(0, 0, 0, 5, FilterKernelFunction(fkTriangle), 1).empty());
    EXPECT_TRUE(BuildMappingTable(0, 3, 2, 2, FilterKernelFunction(fkTriangle), 1).empty());
    for (const TCluster& c : BuildMappingTable(0, 3, 7, 8, FilterKernelFunction(fkLanczos), 3)) {
        ASSERT_EQ(c.size(), 1u);
        EXPECT_EQ(c[0].Pos, 7);
        EXPECT_EQ(c[0].Weight, 1.0f);
    }
    // Every kernel's clusters sum to 1 and stay inside the source, down and up.
    for (int32_t k = 0; k < FilterKernelCount; ++k)
        for (auto [dst, src] : {std::pair{3, 17}, std::pair{17, 3}, std::pair{1, 100}})
            for (const TCluster& c : BuildMappingTable(0, dst, 10, 10 + src, FilterKernelFunction(k),
                                                       FilterKernelRadius(k))) {
                ASSERT_FALSE(c.empty());
                float sum = 0;
                for (const TPointRec& e : c) {
                    EXPECT_GE(e.Pos, 10);
                    EXPECT_LT(e.Pos, 10 + src);
                    sum += e.Weight;
                }
                EXPECT_NEAR(sum, 1.0f, 1e-5f) << "kernel " << k;
            }
}

TEST(ImagingStretch, OnePixelColumnFillsEveryColumn)
{
    // Source columns 0..7 of distinct colours; stretch column 5 alone.
    for (TImageFormat format : {ifA8R8G8B8, ifA16R16G16B16}) {
        TestImage src(8, 1, ifA8R8G8B8);
        for (int i = 0; i < 8; ++i) static_cast<uint32_t*>(src.Data.Bits)[i] = 0xFF000000u | uint32_t(i * 0x112233);
        ConvertImageData(src.Data, format);
        const int32_t bpp = FindPixelFormatInfo(format)->BytesPerPixel;
        for (int32_t kernel = -1; kernel < FilterKernelCount; ++kernel) {
            TestImage dst(6, 3, format);
            if (kernel < 0) StretchNearest(src.Data, 5, 0, 1, 1, dst.Data, 1, 0, 4, 3);
            else StretchResample(src.Data, 5, 0, 1, 1, dst.Data, 1, 0, 4, 3, kernel);
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < 6; ++x) {
                    const uint8_t* got = dst.Bytes() + (y * 6 + x) * bpp;
                    const bool inside = x >= 1 && x <= 4;
                    if (inside)
                        EXPECT_EQ(std::memcmp(got, src.Bytes() + 5 * bpp, size_t(bpp)), 0)
                            << GetPixelFormatName(format) << " kernel " << kernel << " at " << x << "," << y;
                    else
                        EXPECT_EQ(std::count(got, got + bpp, 0), bpp) << "outside the rectangle";
                }
        }
    }
}

TEST(ImagingStretch, ResamplingValues)
{
    const struct {
        const char* Name;
        TImageFormat Format;
        int32_t Kernel;
        std::vector<uint8_t> Source; // one row
        std::vector<uint8_t> Expect; // one row, twice as wide
    } cases[] = {
        {"triangle, integer path", ifGray8, fkTriangle, {0, 200}, {0, 50, 150, 200}},
        {"triangle, float path", ifGray16, fkTriangle, {0, 0, 0, 200}, {0, 0, 0, 50, 0, 150, 0, 200}},
        {"box keeps values", ifGray8, fkBox, {10, 90}, {10, 10, 90, 90}},
        {"catmull-rom overshoot clamps", ifGray8, fkCatmullRom, {0, 0, 255, 255}, {}},
    };
    for (const auto& c : cases) {
        const int32_t bpp = FindPixelFormatInfo(c.Format)->BytesPerPixel;
        const int32_t w = int32_t(c.Source.size()) / bpp;
        TestImage src(w, 1, c.Format, c.Source);
        TestImage dst(2 * w, 1, c.Format);
        StretchResample(src.Data, 0, 0, w, 1, dst.Data, 0, 0, 2 * w, 1, c.Kernel);
        std::vector<uint8_t> got = dst.Vector();
        if (c.Kernel == fkCatmullRom) {
            // Only the shape matters here: monotone, no wrap-around of the overshoot.
            EXPECT_TRUE(std::is_sorted(got.begin(), got.end())) << c.Name;
            EXPECT_EQ(got.front(), 0);
            EXPECT_EQ(got.back(), 255);
        } else {
            EXPECT_EQ(got, c.Expect) << c.Name;
        }
    }
}

TEST(ImagingStretch, ResizeByMethod)
{
    TestImage image(2, 2, ifGray8, {0, 100, 200, 255});
    ASSERT_TRUE(ResizeImageData(image.Data, 4, 4, rmNearest));
    EXPECT_EQ(image.Vector(), (std::vector<uint8_t>{0, 0, 100, 100, 0, 0, 100, 100, 200, 200, 255, 255, 200, 200,
                                                    255, 255}));
    EXPECT_FALSE(ResizeImageData(image.Data, 4, 4, rmBicubic)); // same size

    TestImage smooth(2, 1, ifGray8, {0, 200});
    ASSERT_TRUE(ResizeImageData(smooth.Data, 4, 1, rmBilinear));
    EXPECT_EQ(smooth.Vector(), (std::vector<uint8_t>{0, 50, 150, 200}));

    // An indexed image keeps its palette and is always sampled nearest.
    TestImage indexed(2, 1, ifIndex8, {3, 9});
    indexed.Data.Palette[9].Color = 0xFF123456u;
    ASSERT_TRUE(ResizeImageData(indexed.Data, 4, 1, rmBicubic));
    EXPECT_EQ(indexed.Vector(), (std::vector<uint8_t>{3, 3, 9, 9}));
    EXPECT_EQ(indexed.Data.Palette[9].Color, 0xFF123456u);

    // A block image resizes through its pixels and stays in its format.
    TestImage blocks(8, 8, ifDXT1);
    ASSERT_TRUE(ResizeImageData(blocks.Data, 5, 5, rmBilinear));
    EXPECT_EQ(blocks.Data.Format, ifDXT1);
    EXPECT_EQ(blocks.Data.Width, 8);
    EXPECT_EQ(blocks.Data.Size, 32);
}

TEST(ImagingStretch, NearestStepsOverWideImages)
{
    // 40,000 columns to 3: the 16.16 step would overflow 32 bits.
    TestImage src(40000, 1, ifGray8);
    for (int32_t i = 0; i < 40000; ++i) src.Bytes()[i] = uint8_t(i / 157);
    TestImage dst(3, 1, ifGray8);
    StretchNearest(src.Data, 0, 0, 40000, 1, dst.Data, 0, 0, 3, 1);
    EXPECT_EQ(dst.Vector(), (std::vector<uint8_t>{0, uint8_t(13333 / 157), uint8_t(26666 / 157)}));
}

} // namespace
