#pragma once
// Helpers of the image-library tests: an image record freed with its owner,
// and building small images from pixel bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Korvane.Imaging.Formats.h"
#include "Korvane.Imaging.h"

namespace korvane::test {

// A TImageData freed through FreeImageData when the holder goes.
struct TestImage {
    TImageData Data;

    TestImage() = default;
    TestImage(int32_t AWidth, int32_t AHeight, TImageFormat AFormat)
    {
        EXPECT_TRUE(CreateImageData(AWidth, AHeight, AFormat, Data));
    }
    // An image whose pixel bytes are ABytes (exactly the image's Size).
    TestImage(int32_t AWidth, int32_t AHeight, TImageFormat AFormat, const std::vector<uint8_t>& ABytes)
        : TestImage(AWidth, AHeight, AFormat)
    {
        EXPECT_EQ(size_t(Data.Size), ABytes.size());
        if (size_t(Data.Size) == ABytes.size()) std::memcpy(Data.Bits, ABytes.data(), ABytes.size());
    }
    ~TestImage() { FreeImageData(Data); }
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    uint8_t* Bytes() const { return static_cast<uint8_t*>(Data.Bits); }
    std::vector<uint8_t> Vector() const { return std::vector<uint8_t>(Bytes(), Bytes() + Data.Size); }
    // The 32-bit ARGB pixel at (x, y) of an A8R8G8B8 image.
    uint32_t Pixel32(int32_t AX, int32_t AY) const
    {
        uint32_t value;
        std::memcpy(&value, Bytes() + (size_t(AY) * size_t(Data.Width) + size_t(AX)) * 4, 4);
        return value;
    }
};

} // namespace korvane::test
