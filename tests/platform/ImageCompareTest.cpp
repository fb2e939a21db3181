// The image comparison of pixel tests: its thresholds, and the files and
// message it leaves when two images differ.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "ImageCompare.h"

using namespace korvane::test;
namespace fs = std::filesystem;

namespace {
// A 4x2 grey image with one pixel's red channel raised by ABump and every
// other channel of every pixel raised by ASpread.
RgbaImage Grey(int ABump, int ASpread = 0)
{
    RgbaImage image = RgbaImage::Filled(4, 2, {100, 100, 100, 200});
    for (auto& v : image.Pixels) v = static_cast<uint8_t>(v + ASpread);
    image.Pixel(2, 1)[0] = static_cast<uint8_t>(image.Pixel(2, 1)[0] + ABump);
    return image;
}

// The pixels of a PNG file, RGBA; empty when it cannot be read.
std::vector<uint8_t> LoadPng(const std::string& AFile, int& AWidth, int& AHeight)
{
    int channels = 0;
    stbi_uc* data = stbi_load(AFile.c_str(), &AWidth, &AHeight, &channels, 4);
    if (!data) return {};
    std::vector<uint8_t> pixels(data, data + static_cast<size_t>(AWidth) * AHeight * 4);
    stbi_image_free(data);
    return pixels;
}

// The path the message gives after ALabel ("actual:" ...), up to the line end.
std::string PathAfter(const std::string& AMessage, const std::string& ALabel)
{
    const size_t at = AMessage.find(ALabel);
    if (at == std::string::npos) return {};
    const size_t start = AMessage.find_first_not_of(' ', at + ALabel.size());
    return AMessage.substr(start, AMessage.find('\n', start) - start);
}
} // namespace

TEST(ImageCompare, ThresholdsOnTheLargestAndTheMeanChannelDifference)
{
    struct Case {
        const char* Name;
        int Bump, Spread;
        ImageTolerance Tolerance;
        bool Match;
    } cases[] = {
        {"identical", 0, 0, {0, 0.0}, true},
        {"one channel within the largest difference", 6, 0, {6, 1.0}, true},
        {"one channel beyond it", 7, 0, {6, 1.0}, false},
        // 32 channels each 1 apart: the mean is 1.
        {"a small difference everywhere within the mean", 0, 1, {1, 1.0}, true},
        {"a small difference everywhere beyond the mean", 0, 1, {1, 0.99}, false},
    };
    for (const Case& c : cases) {
        const auto result = ImagesMatch(Grey(c.Bump, c.Spread), Grey(0), c.Tolerance, "thresholds");
        EXPECT_EQ(static_cast<bool>(result), c.Match) << c.Name << ": " << result.message();
    }
}

TEST(ImageCompare, AMismatchWritesTheThreeImagesAndNamesThem)
{
    const RgbaImage actual = Grey(40);
    const RgbaImage expected = Grey(0);
    const auto result = ImagesMatch(actual, expected, {2, 0.5}, "written");
    ASSERT_FALSE(result);
    const std::string message = result.message();
    EXPECT_NE(message.find("largest channel difference 40 (allowed 2) at pixel (2, 1)"), std::string::npos)
        << message;

    const std::string actualFile = PathAfter(message, "actual:");
    const std::string expectedFile = PathAfter(message, "expected:");
    const std::string differenceFile = PathAfter(message, "difference:");
    for (const auto& file : {actualFile, expectedFile, differenceFile}) {
        EXPECT_NE(file.find("ImageCompare.AMismatchWritesTheThreeImagesAndNamesThem-written"), std::string::npos)
            << file;
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    int w = 0, h = 0;
    EXPECT_EQ(LoadPng(actualFile, w, h), actual.Pixels);
    EXPECT_EQ(LoadPng(expectedFile, w, h), expected.Pixels);
    const std::vector<uint8_t> difference = LoadPng(differenceFile, w, h);
    ASSERT_EQ(difference.size(), actual.Pixels.size());
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    // Only the differing pixel shows, in the channel that differs.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = difference.data() + (y * w + x) * 4;
            const bool differs = x == 2 && y == 1;
            EXPECT_EQ(p[0], differs ? 160 : 0) << x << "," << y;
            EXPECT_EQ(p[1], 0) << x << "," << y;
            EXPECT_EQ(p[2], 0) << x << "," << y;
            EXPECT_EQ(p[3], 255) << x << "," << y;
        }
}

TEST(ImageCompare, ImagesOfDifferentSizesNeverMatch)
{
    const auto result = ImagesMatch(RgbaImage::Filled(3, 2, {0, 0, 0, 255}), RgbaImage::Filled(2, 3, {0, 0, 0, 255}),
                                    {255, 255.0}, "sizes");
    ASSERT_FALSE(result);
    const std::string message = result.message();
    EXPECT_NE(message.find("the actual image is 3x2, the expected 2x3"), std::string::npos) << message;
    EXPECT_TRUE(fs::exists(PathAfter(message, "actual:"))) << message;
    EXPECT_TRUE(fs::exists(PathAfter(message, "expected:"))) << message;
    EXPECT_EQ(message.find("difference:"), std::string::npos) << message;
    EXPECT_THROW(RgbaImage(2, 2, std::vector<uint8_t>(15)), std::invalid_argument);
}
