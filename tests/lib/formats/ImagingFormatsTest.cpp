// The pixel-format table, image creation and sizes, the validity gate every
// operation passes through, and the error convention of the image library.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ImagingTestHelpers.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

TEST(ImagingFormatTable, NamesById)
{
    const struct {
        TImageFormat Id;
        const char* Name;
    } cases[] = {
        {ifDefault, "A8R8G8B8"},  {ifA8R8G8B8, "A8R8G8B8"},   {ifIndex8, "Index8"},
        {ifA16Gray16, "A16Gray16"}, {ifA32B32G32R32F, "A32B32G32R32F"}, {ifATI2N, "ATI2N"},
        {ifUnknown, "Unknown and unsupported format"}, {2, "Unknown and unsupported format"},
        {46, "Unknown and unsupported format"}, {226, "Unknown and unsupported format"},
        {231, "Unknown and unsupported format"}, {-1, "Unknown and unsupported format"},
        {1 << 30, "Unknown and unsupported format"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetPixelFormatName(c.Id), c.Name) << "id " << c.Id;
}

TEST(ImagingFormatTable, DescriptorLookups)
{
    TImageFormatDescriptor info;
    ASSERT_TRUE(GetPixelFormatInfo(ifDefault, info));
    EXPECT_EQ(info.FormatId, ifA8R8G8B8);
    EXPECT_EQ(info.BytesPerPixel, 4);

    info.BytesPerPixel = 7;
    EXPECT_FALSE(GetPixelFormatInfo(300, info));
    EXPECT_EQ(info.FormatId, 0);
    EXPECT_EQ(info.BytesPerPixel, 0);
    EXPECT_EQ(info.DataSizeFunc, nullptr);

    int known = 0;
    for (TImageFormat id = -5; id < 240; ++id) {
        const TImageFormatDescriptor* d = FindPixelFormatInfo(id);
        EXPECT_EQ(IsImageFormatValid(id), d != nullptr);
        if (!d || id == ifDefault) continue;
        ++known;
        EXPECT_EQ(d->FormatId, id);
        // Swap partners name each other; block formats decode to a plain format.
        if (d->SwapPartner) {
            EXPECT_EQ(FindPixelFormatInfo(d->SwapPartner)->SwapPartner, id) << d->Name;
        }
        if (d->IsBlockCompressed) {
            EXPECT_EQ(d->BytesPerPixel, 0);
            EXPECT_EQ(d->ReadPixel32Func, nullptr);
            ASSERT_NE(FindPixelFormatInfo(d->DecodedFormat), nullptr) << d->Name;
            EXPECT_FALSE(FindPixelFormatInfo(d->DecodedFormat)->IsBlockCompressed);
        } else {
            EXPECT_NE(d->ReadPixel32Func, nullptr) << d->Name;
            EXPECT_NE(d->WritePixelFPFunc, nullptr) << d->Name;
        }
        EXPECT_EQ(d->HasBitFields, d->BitFields != nullptr) << d->Name;
    }
    EXPECT_EQ(known, 33);
}

TEST(ImagingFormatTable, BitFieldLayouts)
{
    const struct {
        TImageFormat Id;
        uint32_t AMask, RMask, GMask, BMask;
        uint8_t AMax, RMax, GMax, BMax;
    } cases[] = {
        {ifR3G3B2, 0, 0xE0, 0x1C, 0x03, 1, 7, 7, 3},
        {ifX5R1G1B1, 0, 0x4, 0x2, 0x1, 1, 1, 1, 1},
        {ifR5G6B5, 0, 0xF800, 0x07E0, 0x001F, 1, 31, 63, 31},
        {ifA1R5G5B5, 0x8000, 0x7C00, 0x03E0, 0x001F, 1, 31, 31, 31},
        {ifA4R4G4B4, 0xF000, 0x0F00, 0x00F0, 0x000F, 15, 15, 15, 15},
        {ifX1R5G5B5, 0, 0x7C00, 0x03E0, 0x001F, 1, 31, 31, 31},
        {ifX4R4G4B4, 0, 0x0F00, 0x00F0, 0x000F, 1, 15, 15, 15},
    };
    for (const auto& c : cases) {
        const TBitFieldLayout* l = FindPixelFormatInfo(c.Id)->BitFields;
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->AMask, c.AMask) << c.Id;
        EXPECT_EQ(l->RMask, c.RMask) << c.Id;
        EXPECT_EQ(l->GMask, c.GMask) << c.Id;
        EXPECT_EQ(l->BMask, c.BMask) << c.Id;
        EXPECT_EQ(l->AMax, c.AMax) << c.Id;
        EXPECT_EQ(l->RMax, c.RMax) << c.Id;
        EXPECT_EQ(l->GMax, c.GMax) << c.Id;
        EXPECT_EQ(l->BMax, c.BMax) << c.Id;
    }
}

TEST(ImagingCreate, DimensionsAndSizes)
{
    const struct {
        TImageFormat Format;
        int32_t Width, Height;
        int32_t ExpectWidth, ExpectHeight, ExpectSize;
    } cases[] = {
        {ifDXT1, 5, 3, 8, 4, 16},
        {ifBTC, 8, 8, 8, 8, 16},
        {ifATI2N, 8, 8, 8, 8, 64},
        {ifATI1N, 4, 4, 4, 4, 8},
        {ifDXT3, 1, 1, 4, 4, 16},
        {ifDXT5, 9, 4, 12, 4, 48},
        {ifA8R8G8B8, 3, 2, 3, 2, 24},
        {ifDefault, 3, 2, 3, 2, 24},
        {ifR8G8B8, 5, 1, 5, 1, 15},
        {ifIndex8, 7, 3, 7, 3, 21},
        {ifA32R32G32B32F, 2, 2, 2, 2, 64},
        {ifX5R1G1B1, 3, 3, 3, 3, 9},
    };
    for (const auto& c : cases) {
        TestImage image(c.Width, c.Height, c.Format);
        EXPECT_EQ(image.Data.Width, c.ExpectWidth) << GetPixelFormatName(c.Format);
        EXPECT_EQ(image.Data.Height, c.ExpectHeight) << GetPixelFormatName(c.Format);
        EXPECT_EQ(image.Data.Size, c.ExpectSize) << GetPixelFormatName(c.Format);
        EXPECT_EQ(image.Data.Format, c.Format == ifDefault ? ifA8R8G8B8 : c.Format);
        EXPECT_EQ(image.Data.Palette != nullptr, c.Format == ifIndex8);
        EXPECT_TRUE(IsImageDataValid(image.Data));
        // Zero-filled.
        const std::vector<uint8_t> bytes = image.Vector();
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), c.ExpectSize);
    }
}

TEST(ImagingCreate, EmptyAndUnknown)
{
    // A size of 0 or a format without descriptor leaves the image empty.
    const struct {
        int32_t Width, Height;
        TImageFormat Format;
    } cases[] = {{0, 5, ifA8R8G8B8}, {5, 0, ifDXT1}, {0, 0, ifGray8}, {4, 4, ifUnknown}, {4, 4, 300}};
    for (const auto& c : cases) {
        TImageData image;
        image.Width = 99; // a previous content is cleared
        EXPECT_FALSE(CreateImageData(c.Width, c.Height, c.Format, image));
        EXPECT_EQ(image.Width, 0);
        EXPECT_EQ(image.Format, ifUnknown);
        EXPECT_EQ(image.Bits, nullptr);
    }

    // Negative dimensions are a caller's error, reported with the request.
    TImageData image;
    const std::string message = MessageOf<EImagingError>([&] { CreateImageData(-1, 4, ifGray8, image); });
    EXPECT_NE(message.find("Error while creating image data with params: Width=-1 Height=4 Format=Gray8."),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Exception Message: "), std::string::npos) << message;
}

TEST(ImagingCreate, ZeroSizedRecordIsValid)
{
    // A 0 x 0 record with Size 0 passes the size test; operations on it do nothing harmful.
    TImageData image;
    image.Format = ifA8R8G8B8;
    EXPECT_TRUE(IsImageDataValid(image));
    EXPECT_TRUE(ConvertImageData(image, ifGray8));
    EXPECT_EQ(image.Format, ifGray8);
    EXPECT_EQ(image.Size, 0);
    EXPECT_TRUE(ConvertImageData(image, ifDXT1));
    EXPECT_EQ(image.Size, 0);
    EXPECT_TRUE(ConvertImageData(image, ifIndex8));
    FreeImageData(image);
}

TEST(ImagingSizes, HugeImagesAreRefusedBeforeAllocation)
{
    // 100,000 x 100,000 pixels of 16 bytes: 160,000,000,000 bytes.
    TImageData image;
    const std::string message =
        MessageOf<EImagingError>([&] { CreateImageData(100000, 100000, ifA32R32G32B32F, image); });
    EXPECT_NE(message.find("Width=100000 Height=100000 Format=A32R32G32B32F"), std::string::npos) << message;
    EXPECT_NE(message.find("160000000000 bytes"), std::string::npos) << message;
    EXPECT_EQ(image.Bits, nullptr);
    EXPECT_EQ(image.Size, 0);

    // A record whose 32-bit Size equals the wrapped-around true size is not valid.
    uint8_t dummy[16] = {};
    TImageData forged;
    forged.Width = 100000;
    forged.Height = 100000;
    forged.Format = ifA32R32G32B32F;
    forged.Size = int32_t(uint32_t(160000000000ull & 0xFFFFFFFFull));
    forged.Bits = dummy;
    EXPECT_FALSE(IsImageDataValid(forged));

    // A valid 40,000 x 40,000 Gray8 record (its pixels are never read) cannot
    // become 16 bytes per pixel: refused before a byte is allocated or changed.
    TImageData big;
    big.Width = 40000;
    big.Height = 40000;
    big.Format = ifGray8;
    big.Size = 1600000000;
    big.Bits = dummy;
    ASSERT_TRUE(IsImageDataValid(big));
    const std::string convert = MessageOf<EImagingError>([&] { ConvertImageData(big, ifA32R32G32B32F); });
    EXPECT_NE(convert.find("Error while converting image to format \"A32R32G32B32F\"."), std::string::npos)
        << convert;
    EXPECT_NE(convert.find("25600000000 bytes"), std::string::npos) << convert;
    EXPECT_EQ(big.Format, ifGray8);
    EXPECT_EQ(big.Bits, static_cast<void*>(dummy));

    // Block formats round in 64 bits: no wrap-around near the 32-bit limit.
    EXPECT_EQ(FindPixelFormatInfo(ifDXT5)->DataSizeFunc(ifDXT5, INT32_MAX, INT32_MAX),
              int64_t(2147483648) * 2147483648);
    EXPECT_EQ(FindPixelFormatInfo(ifGray8)->DataSizeFunc(ifGray8, -1, 4), -1);
}

TEST(ImagingValidity, InvalidImagesAreLeftUntouched)
{
    TestImage valid(4, 4, ifA8R8G8B8);
    const struct {
        const char* Name;
        void (*Break)(TImageData&);
    } cases[] = {
        {"size one byte short", [](TImageData& i) { i.Size -= 1; }},
        {"size one byte long", [](TImageData& i) { i.Size += 1; }},
        {"unknown format", [](TImageData& i) { i.Format = 2; }},
        {"format beyond the table", [](TImageData& i) { i.Format = 500; }},
        {"negative width", [](TImageData& i) { i.Width = -4; }},
        {"no pixel data", [](TImageData& i) { i.Bits = nullptr; }},
        {"indexed without palette", [](TImageData& i) {
             i.Format = ifIndex8;
             i.Size = 16;
         }},
    };
    for (const auto& c : cases) {
        TImageData image = valid.Data;
        c.Break(image);
        const TImageData before = image;
        EXPECT_FALSE(IsImageDataValid(image)) << c.Name;
        EXPECT_FALSE(ConvertImageData(image, ifGray8)) << c.Name;
        EXPECT_FALSE(ConvertImageData(image, ifDXT5)) << c.Name;
        EXPECT_FALSE(ResizeImageData(image, 2, 2, rmBilinear)) << c.Name;
        EXPECT_FALSE(SwapImageChannels(image, 0, 2)) << c.Name;
        EXPECT_EQ(std::memcmp(&image, &before, sizeof(TImageData)), 0) << c.Name;
        EXPECT_NE(ImageDataInfo(image).find("Access violation encountered"), std::string::npos) << c.Name;
        // FreeImageData only clears the record (the pixels belong to `valid`).
        EXPECT_FALSE(FreeImageData(image)) << c.Name;
        EXPECT_EQ(image.Bits, nullptr);
    }
    EXPECT_TRUE(IsImageDataValid(valid.Data));
}

TEST(ImagingErrors, MessagesNestInnermostLast)
{
    TestImage image(2, 2, ifA8R8G8B8);
    // An unknown target is a caller's error.
    const std::string message = MessageOf<EImagingError>([&] { ConvertImageData(image.Data, 77); });
    EXPECT_EQ(message.rfind("Error while converting image to format \"Unknown and unsupported format\". Image @", 0),
              0u)
        << message;
    EXPECT_NE(message.find("Width = 2px, Height = 2px, Format = A8R8G8B8, Size = 16 B"), std::string::npos)
        << message;
    EXPECT_NE(message.find(" Exception Message: The target format must be a known format"), std::string::npos)
        << message;

    const std::string resize = MessageOf<EImagingError>([&] { ResizeImageData(image.Data, 0, 3, rmNearest); });
    EXPECT_EQ(resize.rfind("Error while resizing image.  Image @", 0), 0u) << resize;

    // Sizes above 8 KiB are shown in KiB.
    TestImage big(33, 64, ifA8R8G8B8); // 8448 bytes
    EXPECT_NE(ImageDataInfo(big.Data).find("Size = 8 KiB"), std::string::npos) << ImageDataInfo(big.Data);
    TestImage edge(32, 64, ifA8R8G8B8); // 8192 bytes
    EXPECT_NE(ImageDataInfo(edge.Data).find("Size = 8,192 B"), std::string::npos) << ImageDataInfo(edge.Data);
}

TEST(ImagingPalette, FindFillAndSwap)
{
    TColor32Rec palette[4];
    FillGrayscalePalette(palette, 4);
    EXPECT_EQ(palette[3].Color, 0xFF030303u);

    palette[1].Color = 0xFF102030;
    EXPECT_EQ(FindPaletteColor(palette, 4, 0xFF102030), 1);
    EXPECT_EQ(FindPaletteColor(palette, 4, 0xFF000001), 0); // nearest: entry 0 differs by 1
    EXPECT_EQ(FindPaletteColor(palette, 4, 0xFF112030), 1);

    TColor32Rec black[2] = {{.Color = 0}, {.Color = 0}};
    EXPECT_EQ(FindPaletteColor(black, 2, 0xFFFFFFFF), -1);

    SwapPaletteChannels(palette, 4, 0, 2);
    EXPECT_EQ(palette[1].Color, 0xFF302010u);
    EXPECT_NE(MessageOf<EImagingError>([] { FindPaletteColor(nullptr, 4, 0); }).find("Error while finding color"),
              std::string::npos);
}

TEST(ImagingSwap, ChannelsByFormatClass)
{
    const struct {
        TImageFormat Format;
        std::vector<uint8_t> Pixel;
        int32_t A, B;
        std::vector<uint8_t> Expect;
    } cases[] = {
        {ifA8R8G8B8, {1, 2, 3, 4}, 0, 2, {3, 2, 1, 4}},
        {ifA8R8G8B8, {1, 2, 3, 4}, 1, 3, {1, 4, 3, 2}},
        {ifR8G8B8, {1, 2, 3}, 0, 1, {2, 1, 3}},
        {ifA8Gray8, {10, 200}, 0, 3, {200, 10}},
        {ifA16R16G16B16, {1, 0, 2, 0, 3, 0, 4, 0}, 2, 0, {3, 0, 2, 0, 1, 0, 4, 0}},
        {ifA4R4G4B4, {0x21, 0x43}, 0, 3, {0x24, 0x13}},
    };
    for (const auto& c : cases) {
        TestImage image(1, 1, c.Format, c.Pixel);
        EXPECT_TRUE(SwapImageChannels(image.Data, c.A, c.B));
        EXPECT_EQ(image.Vector(), c.Expect) << GetPixelFormatName(c.Format) << " " << c.A << "<->" << c.B;
        EXPECT_FALSE(SwapImageChannels(image.Data, 2, 2));
        EXPECT_EQ(image.Vector(), c.Expect);
    }
}

} // namespace
