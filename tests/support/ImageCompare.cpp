#include "ImageCompare.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace korvane::test {

namespace fs = std::filesystem;

RgbaImage::RgbaImage(int AWidth, int AHeight, std::vector<uint8_t> APixels)
    : Width(AWidth), Height(AHeight), Pixels(std::move(APixels))
{
    if (AWidth < 0 || AHeight < 0 || Pixels.size() != static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight) * 4)
        throw std::invalid_argument("RgbaImage: the pixels do not fill the image");
}

RgbaImage RgbaImage::Filled(int AWidth, int AHeight, const std::array<uint8_t, 4>& AColor)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight) * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = AColor[i % 4];
    return RgbaImage(AWidth, AHeight, std::move(pixels));
}

namespace {
// A folder for this test's files: the build's test output, then the test's
// full name and the image's name.
fs::path MismatchFolder(const std::string& AName)
{
    std::string test = "no-test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
        test = std::string(info->test_suite_name()) + "." + info->name();
    std::string folder = test + "-" + AName;
    for (char& c : folder)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    return fs::path(KORVANE_TEST_OUTPUT_DIR) / "image-mismatches" / folder;
}

std::string WritePng(const fs::path& AFile, const RgbaImage& AImage)
{
    if (AImage.Width == 0 || AImage.Height == 0) return "(empty image, not written)";
    if (!stbi_write_png(AFile.string().c_str(), AImage.Width, AImage.Height, 4, AImage.Pixels.data(),
                        AImage.Width * 4))
        return "(could not write " + AFile.string() + ")";
    return AFile.string();
}
} // namespace

::testing::AssertionResult ImagesMatch(const RgbaImage& AActual, const RgbaImage& AExpected,
                                       const ImageTolerance& ATolerance, const std::string& AName)
{
    std::ostringstream why;
    const bool sameSize = AActual.Width == AExpected.Width && AActual.Height == AExpected.Height;
    RgbaImage difference;
    if (!sameSize) {
        why << AName << ": the actual image is " << AActual.Width << "x" << AActual.Height << ", the expected "
            << AExpected.Width << "x" << AExpected.Height;
    } else {
        // The difference image shows each channel's difference four times
        // brighter, so that small ones can be seen; its alpha is opaque.
        difference = RgbaImage::Filled(AActual.Width, AActual.Height, {0, 0, 0, 255});
        int worst = 0, worstX = 0, worstY = 0;
        double total = 0;
        for (int y = 0; y < AActual.Height; ++y)
            for (int x = 0; x < AActual.Width; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int d = std::abs(int(AActual.Pixel(x, y)[c]) - int(AExpected.Pixel(x, y)[c]));
                    total += d;
                    if (d > worst) {
                        worst = d;
                        worstX = x;
                        worstY = y;
                    }
                    // An alpha difference shows as grey: it raises all three colours.
                    uint8_t* shown = difference.Pixel(x, y);
                    const auto bright = static_cast<uint8_t>(std::min(255, d * 4));
                    for (int k = c < 3 ? c : 0; k <= (c < 3 ? c : 2); ++k) shown[k] = std::max(shown[k], bright);
                }
        const double channels = 4.0 * AActual.Width * AActual.Height;
        const double mean = channels > 0 ? total / channels : 0.0;
        if (worst <= ATolerance.MaxChannelDifference && mean <= ATolerance.MeanChannelDifference)
            return ::testing::AssertionSuccess();
        why << AName << ": largest channel difference " << worst << " (allowed " << ATolerance.MaxChannelDifference
            << ") at pixel (" << worstX << ", " << worstY << "), mean channel difference " << mean << " (allowed "
            << ATolerance.MeanChannelDifference << ")";
    }
    const fs::path folder = MismatchFolder(AName);
    std::error_code error;
    fs::create_directories(folder, error);
    why << "\n  actual:     " << WritePng(folder / "actual.png", AActual);
    why << "\n  expected:   " << WritePng(folder / "expected.png", AExpected);
    if (sameSize) why << "\n  difference: " << WritePng(folder / "difference.png", difference);
    return ::testing::AssertionFailure() << why.str();
}

} // namespace korvane::test
