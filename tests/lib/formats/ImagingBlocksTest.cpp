// The block-compressed formats: decoding against libsquish, the edge cases of
// the encoders, and conversions into and out of blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <squish.h>

#include "ImagingTestHelpers.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// One block of AFormat decoded to 16 ARGB pixels (gray formats widened).
std::vector<uint32_t> DecodeOne(TImageFormat AFormat, const std::vector<uint8_t>& ABlock)
{
    TestImage image(4, 4, AFormat, ABlock);
    const TImageFormat decoded = FindPixelFormatInfo(AFormat)->DecodedFormat;
    TestImage target(4, 4, decoded);
    DecompressImage(image.Data, target.Data);
    ConvertImageData(target.Data, ifA8R8G8B8);
    std::vector<uint32_t> out(16);
    std::memcpy(out.data(), target.Data.Bits, 64);
    return out;
}

// 16 ARGB pixels encoded as one block of AFormat.
std::vector<uint8_t> EncodeOne(TImageFormat AFormat, const std::vector<uint32_t>& APixels)
{
    TestImage source(4, 4, ifA8R8G8B8);
    std::memcpy(source.Data.Bits, APixels.data(), 64);
    const TImageFormat decoded = FindPixelFormatInfo(AFormat)->DecodedFormat;
    ConvertImageData(source.Data, decoded);
    TestImage image(4, 4, AFormat);
    CompressImage(source.Data, image.Data);
    return image.Vector();
}

uint16_t Word(const std::vector<uint8_t>& ABytes, size_t AAt) { return uint16_t(ABytes[AAt] | (ABytes[AAt + 1] << 8)); }

TEST(ImagingBlocks, DXT1DecodingRules)
{
    // c0 = c1 = pure red: the 3-colour rule, entry 3 transparent.
    // Indices: pixel 0 -> 0, pixel 1 -> 1, pixel 2 -> 2, pixel 3 -> 3, the rest 0.
    const std::vector<uint32_t> equal = DecodeOne(ifDXT1, {0x00, 0xF8, 0x00, 0xF8, 0xE4, 0, 0, 0});
    EXPECT_EQ(equal[0], 0xFFFF0000u);
    EXPECT_EQ(equal[1], 0xFFFF0000u);
    EXPECT_EQ(equal[2], 0xFFFF0000u);
    EXPECT_EQ(equal[3] >> 24, 0u);
    EXPECT_EQ(equal[4], 0xFFFF0000u);

    // c0 > c1: four opaque colours, thirds rounded; white (0xFFFF) and black.
    const std::vector<uint32_t> four = DecodeOne(ifDXT1, {0xFF, 0xFF, 0x00, 0x00, 0xE4, 0, 0, 0});
    EXPECT_EQ(four[0], 0xFFFFFFFFu);
    EXPECT_EQ(four[1], 0xFF000000u);
    EXPECT_EQ(four[2], 0xFFAAAAAAu); // (2 x 255 + 0 + 1) div 3 = 170
    EXPECT_EQ(four[3], 0xFF555555u); // (255 + 0 + 1) div 3 = 85

    // c0 < c1: the middle entry is the mean, entry 3 transparent.
    const std::vector<uint32_t> three = DecodeOne(ifDXT1, {0x00, 0x00, 0xFF, 0xFF, 0xE4, 0, 0, 0});
    EXPECT_EQ(three[2], 0xFF7F7F7Fu);
    EXPECT_EQ(three[3] >> 24, 0u);
}

TEST(ImagingBlocks, DXT3AndDXT5Alpha)
{
    // DXT3 nibbles: pixel 0 = 0xF, pixel 1 = 0x8, pixel 2 = 0x0, pixel 3 = 0x1.
    std::vector<uint8_t> dxt3(16, 0);
    dxt3[0] = 0x8F;
    dxt3[1] = 0x10;
    const std::vector<uint32_t> a3 = DecodeOne(ifDXT3, dxt3);
    EXPECT_EQ(a3[0] >> 24, 255u);
    EXPECT_EQ(a3[1] >> 24, 136u);
    EXPECT_EQ(a3[2] >> 24, 0u);
    EXPECT_EQ(a3[3] >> 24, 17u);

    // DXT5 ramps: a0 > a1 gives seven steps; a0 <= a1 five steps with 0 and 255.
    const struct {
        uint8_t A0, A1;
        uint8_t Ramp[8];
    } ramps[] = {
        {255, 0, {255, 0, 219, 182, 146, 109, 73, 36}},
        {0, 255, {0, 255, 51, 102, 153, 204, 0, 255}},
        {100, 100, {100, 100, 100, 100, 100, 100, 0, 255}},
    };
    for (const auto& r : ramps) {
        // Pixel j takes index j mod 8: 3-bit fields 0,1,2,...,7,0,1,...
        uint64_t bits = 0;
        for (int j = 0; j < 16; ++j) bits |= uint64_t(j % 8) << (3 * j);
        std::vector<uint8_t> block(16, 0);
        block[0] = r.A0;
        block[1] = r.A1;
        std::memcpy(&block[2], &bits, 6);
        const std::vector<uint32_t> px = DecodeOne(ifDXT5, block);
        for (int j = 0; j < 16; ++j) EXPECT_EQ(px[size_t(j)] >> 24, r.Ramp[j % 8]) << int(r.A0) << "/" << int(r.A1);
    }
}

TEST(ImagingBlocks, DXT1EncodingOfAlpha)
{
    // Red and blue, one pixel with alpha 127: the 3-colour mode, that pixel transparent.
    std::vector<uint32_t> pixels(16, 0xFFFF0000u);
    for (int j = 8; j < 16; ++j) pixels[size_t(j)] = 0xFF0000FFu;
    pixels[5] = 0x7FFF0000u;
    std::vector<uint8_t> block = EncodeOne(ifDXT1, pixels);
    EXPECT_LE(Word(block, 0), Word(block, 2)) << "3-colour mode";
    std::vector<uint32_t> decoded = DecodeOne(ifDXT1, block);
    EXPECT_EQ(decoded[5] >> 24, 0u);
    for (int j = 0; j < 16; ++j)
        if (j != 5) {
            EXPECT_EQ(decoded[size_t(j)], pixels[size_t(j)]) << j;
        }

    // Alpha 128 is opaque: the 4-colour mode.
    pixels[5] = 0x80FF0000u;
    block = EncodeOne(ifDXT1, pixels);
    EXPECT_GT(Word(block, 0), Word(block, 2));
    decoded = DecodeOne(ifDXT1, block);
    EXPECT_EQ(decoded[5], 0xFFFF0000u);

    // In the 3-colour mode opaque pixels stay opaque even when the
    // transparent entry's colour is the nearest: black, white, and gray 170
    // (which is the colour of entry 3, two thirds of the way to white).
    std::vector<uint32_t> gray(16, 0xFF000000u);
    gray[1] = 0xFFFFFFFFu;
    gray[2] = 0xFFAAAAAAu;
    gray[3] = 0x00000000u;
    decoded = DecodeOne(ifDXT1, EncodeOne(ifDXT1, gray));
    EXPECT_EQ(decoded[3] >> 24, 0u);
    for (int j = 0; j < 16; ++j)
        if (j != 3) {
            EXPECT_EQ(decoded[size_t(j)] >> 24, 255u) << j;
        }

    // An opaque block of one colour: equal endpoints, every index 0.
    const std::vector<uint32_t> flat(16, 0xFF336699u);
    block = EncodeOne(ifDXT1, flat);
    EXPECT_EQ(Word(block, 0), Word(block, 2));
    EXPECT_EQ(block[4] | block[5] | block[6] | block[7], 0);
    const uint32_t endpoint = DecodeOne(ifDXT1, block)[0];
    for (uint32_t p : DecodeOne(ifDXT1, block)) EXPECT_EQ(p, endpoint);
    EXPECT_EQ(endpoint, 0xFF31659Cu); // 0x336699 at 5:6:5, widened again
}

TEST(ImagingBlocks, EncodersOfTheSingleChannelFormats)
{
    // BTC of 16 equal values: mask 0, low the value, high 0.
    EXPECT_EQ(EncodeOne(ifBTC, std::vector<uint32_t>(16, 0xFF4D4D4Du)), (std::vector<uint8_t>{77, 0, 0, 0}));

    // BTC of two levels: the mask marks pixels above the mean.
    std::vector<uint32_t> two(16, 0xFF0A0A0Au);
    two[0] = two[15] = 0xFFC8C8C8u;
    EXPECT_EQ(EncodeOne(ifBTC, two), (std::vector<uint8_t>{10, 200, 0x01, 0x80}));
    EXPECT_EQ(DecodeOne(ifBTC, {10, 200, 0x01, 0x80}), two);

    // ATI1N: the largest value first, the smallest second, exact for two levels.
    std::vector<uint32_t> levels(16, 0xFF202020u);
    levels[7] = 0xFFF0F0F0u;
    const std::vector<uint8_t> ati1 = EncodeOne(ifATI1N, levels);
    EXPECT_EQ(ati1[0], 0xF0);
    EXPECT_EQ(ati1[1], 0x20);
    EXPECT_EQ(DecodeOne(ifATI1N, ati1), levels);

    // ATI2N: red and green blocks; blue decodes 0, alpha 255.
    std::vector<uint32_t> rg(16, 0x12345678u);
    rg[3] = 0x12AB0078u;
    const std::vector<uint8_t> ati2 = EncodeOne(ifATI2N, rg);
    EXPECT_EQ(ati2[0], 0xAB);
    EXPECT_EQ(ati2[1], 0x34);
    EXPECT_EQ(ati2[8], 0x56);
    EXPECT_EQ(ati2[9], 0x00);
    const std::vector<uint32_t> back = DecodeOne(ifATI2N, ati2);
    EXPECT_EQ(back[0], 0xFF345600u);
    EXPECT_EQ(back[3], 0xFFAB0000u);

    // DXT5: alpha by its own ramp, exact at the ends.
    std::vector<uint32_t> alphas(16, 0x20FFFFFFu);
    alphas[9] = 0xE0FFFFFFu;
    const std::vector<uint32_t> dxt5 = DecodeOne(ifDXT5, EncodeOne(ifDXT5, alphas));
    EXPECT_EQ(dxt5, alphas);
}

// Ours and libsquish's DecompressImage on the same random blocks: each
// channel within one 8-bit step (the two differ only in how they round the
// 5- and 6-bit endpoints and the interpolated entries). The colour of a
// pixel that both decode fully transparent does not count.
TEST(ImagingBlocks, DecodingMatchesLibsquish)
{
    const struct {
        TImageFormat Format;
        int Flags;
    } cases[] = {{ifDXT1, squish::kDxt1}, {ifDXT3, squish::kDxt3}, {ifDXT5, squish::kDxt5}};
    for (const auto& c : cases) {
        const int32_t w = 64, h = 32;
        TestImage blocks(w, h, c.Format);
        std::mt19937 random(uint32_t(c.Format) * 7919u);
        for (int32_t i = 0; i < blocks.Data.Size; ++i) blocks.Bytes()[i] = uint8_t(random());
        // Some blocks with equal endpoints, which take the other colour rule.
        const int32_t colourAt = c.Format == ifDXT1 ? 0 : 8, blockBytes = c.Format == ifDXT1 ? 8 : 16;
        for (int32_t b = 0; b < blocks.Data.Size; b += 5 * blockBytes)
            std::memcpy(blocks.Bytes() + b + colourAt + 2, blocks.Bytes() + b + colourAt, 2);

        TestImage ours(w, h, ifA8R8G8B8);
        DecompressImage(blocks.Data, ours.Data);
        std::vector<uint8_t> theirs(size_t(w) * size_t(h) * 4);
        squish::DecompressImage(theirs.data(), w, h, blocks.Data.Bits, c.Flags);

        int worst = 0, transparent = 0;
        for (int32_t i = 0; i < w * h; ++i) {
            const uint8_t* o = ours.Bytes() + i * 4; // B, G, R, A
            const uint8_t* t = &theirs[size_t(i) * 4]; // R, G, B, A
            worst = std::max(worst, std::abs(o[3] - t[3]));
            if (o[3] == 0 && t[3] == 0) {
                ++transparent;
                continue;
            }
            worst = std::max({worst, std::abs(o[2] - t[0]), std::abs(o[1] - t[1]), std::abs(o[0] - t[2])});
        }
        EXPECT_LE(worst, 1) << GetPixelFormatName(c.Format);
        if (c.Format == ifDXT1) {
            EXPECT_GT(transparent, 0) << "the 3-colour rule was exercised";
        }
    }
}

TEST(ImagingBlocks, ConversionsIntoAndOutOfBlocks)
{
    // 6 x 6 to DXT5 resizes to 8 x 8 first (nearest neighbour).
    TestImage image(6, 6, ifA8R8G8B8);
    uint32_t* px = static_cast<uint32_t*>(image.Data.Bits);
    for (int32_t i = 0; i < 36; ++i) px[i] = (i % 6) < 3 ? 0xFF0000FFu : 0x80FF0000u;
    ASSERT_TRUE(ConvertImageData(image.Data, ifDXT5));
    EXPECT_EQ(image.Data.Width, 8);
    EXPECT_EQ(image.Data.Height, 8);
    EXPECT_EQ(image.Data.Size, 64);
    ASSERT_TRUE(ConvertImageData(image.Data, ifA8R8G8B8));
    ASSERT_EQ(image.Data.Width, 8);
    for (int32_t x = 0; x < 8; ++x) {
        // Destination column x samples source column x x 6 div 8.
        const uint32_t expect = (x * 6 / 8) < 3 ? 0xFF0000FFu : 0x80FF0000u;
        EXPECT_EQ(image.Pixel32(x, 7), expect) << x;
    }

    // Block to block goes through the decoded pixels; gray stays gray.
    TestImage gray(4, 4, ifGray8);
    for (int32_t i = 0; i < 16; ++i) gray.Bytes()[i] = i < 8 ? 40 : 220;
    ASSERT_TRUE(ConvertImageData(gray.Data, ifBTC));
    ASSERT_TRUE(ConvertImageData(gray.Data, ifDXT1));
    ASSERT_TRUE(ConvertImageData(gray.Data, ifATI1N));
    ASSERT_TRUE(ConvertImageData(gray.Data, ifGray8));
    for (int32_t i = 0; i < 16; ++i) EXPECT_NEAR(gray.Bytes()[i], i < 8 ? 40 : 220, 4) << i;
}

TEST(ImagingBlocks, DecodingWritesOnlyInsideTheTarget)
{
    // A DXT1 record of 5 x 3 pixels is valid (its size counts whole blocks);
    // its decoded image of 5 x 3 pixels gets exactly those pixels.
    std::vector<uint8_t> bits(32, 0);
    for (int b = 0; b < 2; ++b) {
        bits[size_t(b) * 8] = 0xFF;
        bits[size_t(b) * 8 + 1] = 0xFF; // white, index 0 everywhere
    }
    TImageData record;
    record.Width = 5;
    record.Height = 3;
    record.Format = ifDXT1;
    record.Size = 16;
    record.Bits = bits.data();
    ASSERT_TRUE(IsImageDataValid(record));
    TImageData target;
    target.Width = 5;
    target.Height = 3;
    target.Format = ifA8R8G8B8;
    target.Size = 60;
    std::vector<uint32_t> pixels(15, 0);
    target.Bits = pixels.data();
    DecompressImage(record, target);
    for (uint32_t p : pixels) EXPECT_EQ(p, 0xFFFFFFFFu);
}

TEST(ImagingBlocks, MismatchedImagesAreRefused)
{
    TestImage blocks(8, 8, ifDXT1);
    TestImage wrongSize(4, 8, ifA8R8G8B8);
    TestImage wrongFormat(8, 8, ifGray8);
    TestImage plain(8, 8, ifA8R8G8B8);
    const std::vector<uint8_t> before = wrongSize.Vector();
    for (TestImage* target : {&wrongSize, &wrongFormat}) {
        const std::string message = MessageOf<EImagingError>([&] { DecompressImage(blocks.Data, target->Data); });
        EXPECT_NE(message.find("the decoded image must be a valid A8R8G8B8 image of 8x8 pixels"), std::string::npos)
            << message;
    }
    EXPECT_EQ(wrongSize.Vector(), before);
    EXPECT_NE(MessageOf<EImagingError>([&] { DecompressImage(plain.Data, plain.Data); }).find("not block-compressed"),
              std::string::npos);
    EXPECT_NE(MessageOf<EImagingError>([&] { CompressImage(wrongFormat.Data, blocks.Data); }).find("CompressImage"),
              std::string::npos);
}

} // namespace
