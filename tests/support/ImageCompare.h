#pragma once
// Comparing rendered images with a tolerance. On a mismatch the actual, the
// expected and a difference image are written as PNG files, and the failure
// message names them, so a reader can look at what went wrong.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::test {

// An RGBA image, 8 bits a channel, rows in the order they were read.
struct RgbaImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels; // Width * Height * 4 bytes

    RgbaImage() = default;
    RgbaImage(int AWidth, int AHeight, std::vector<uint8_t> APixels);
    // An image of one colour.
    static RgbaImage Filled(int AWidth, int AHeight, const std::array<uint8_t, 4>& AColor);

    uint8_t* Pixel(int x, int y) { return Pixels.data() + (static_cast<size_t>(y) * Width + x) * 4; }
    const uint8_t* Pixel(int x, int y) const { return Pixels.data() + (static_cast<size_t>(y) * Width + x) * 4; }
};

// How far two images may be apart: the largest difference of any one channel
// of any pixel, and the mean difference over all channels of all pixels.
struct ImageTolerance {
    int MaxChannelDifference = 0;
    double MeanChannelDifference = 0.0;
};

// Success when both images have the same size and stay within the
// tolerance. Otherwise the three images go into a folder of their own under
// the build's test output, named after the running test and AName, and the
// message gives the measured differences and the files' paths.
::testing::AssertionResult ImagesMatch(const RgbaImage& AActual, const RgbaImage& AExpected,
                                       const ImageTolerance& ATolerance, const std::string& AName = "image");

} // namespace korvane::test
