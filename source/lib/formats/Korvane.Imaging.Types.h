#pragma once
// The records of the image library: the in-memory image, the pixel-format ids
// and descriptors, the colour records that pixels are read into, and the
// library's exception class.
//
// An image (TImageData) is a plain record. Its pixel rows are packed without
// gaps, top row first; its Format names the layout through the descriptor
// table of Korvane.Imaging.Formats. Bits and Palette are released only through
// FreeImageData (Korvane.Imaging); copying the record copies the pointers.

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform.SysUtils.h"

namespace korvane {

// A pixel-format id; zero names no format, 1 stands for the default format.
using TImageFormat = int32_t;

constexpr TImageFormat ifUnknown = 0;
constexpr TImageFormat ifDefault = 1;
constexpr TImageFormat ifIndex8 = 10;
constexpr TImageFormat ifGray8 = 40;
constexpr TImageFormat ifA8Gray8 = 41;
constexpr TImageFormat ifGray16 = 42;
constexpr TImageFormat ifGray32 = 43;
constexpr TImageFormat ifGray64 = 44;
constexpr TImageFormat ifA16Gray16 = 45;
constexpr TImageFormat ifX5R1G1B1 = 80;
constexpr TImageFormat ifR3G3B2 = 81;
constexpr TImageFormat ifR5G6B5 = 82;
constexpr TImageFormat ifA1R5G5B5 = 83;
constexpr TImageFormat ifA4R4G4B4 = 84;
constexpr TImageFormat ifX1R5G5B5 = 85;
constexpr TImageFormat ifX4R4G4B4 = 86;
constexpr TImageFormat ifR8G8B8 = 87;
constexpr TImageFormat ifA8R8G8B8 = 88;
constexpr TImageFormat ifX8R8G8B8 = 89;
constexpr TImageFormat ifR16G16B16 = 90;
constexpr TImageFormat ifA16R16G16B16 = 91;
constexpr TImageFormat ifB16G16R16 = 92;
constexpr TImageFormat ifA16B16G16R16 = 93;
constexpr TImageFormat ifR32F = 170;
constexpr TImageFormat ifA32R32G32B32F = 171;
constexpr TImageFormat ifA32B32G32R32F = 172;
constexpr TImageFormat ifR16F = 173;
constexpr TImageFormat ifA16R16G16B16F = 174;
constexpr TImageFormat ifA16B16G16R16F = 175;
constexpr TImageFormat ifDXT1 = 220;
constexpr TImageFormat ifDXT3 = 221;
constexpr TImageFormat ifDXT5 = 222;
constexpr TImageFormat ifBTC = 223;
constexpr TImageFormat ifATI1N = 224;
constexpr TImageFormat ifATI2N = 225;

// The format that the default id stands for.
constexpr TImageFormat DefaultImageFormat = ifA8R8G8B8;
// The highest id with a place in the descriptor table.
constexpr TImageFormat MaxImageFormatId = 225;

// Colour records; memory order is always blue first.
struct TColor24Rec {
    uint8_t B, G, R;
};

union TColor32Rec {
    struct {
        uint8_t B, G, R, A;
    };
    // A shl 24 or R shl 16 or G shl 8 or B.
    uint32_t Color;
    TColor24Rec Color24Rec;
};
static_assert(sizeof(TColor32Rec) == 4);

struct TColorFPRec {
    float B = 0, G = 0, R = 0, A = 0;
};

struct TColor64Rec {
    uint16_t B = 0, G = 0, R = 0, A = 0;
};

using PPalette32 = TColor32Rec*;

// The image record. An image is valid when its format has a descriptor and
// Size is exactly the format's data size for Width x Height (IsImageDataValid).
struct TImageData {
    int32_t Width = 0;
    int32_t Height = 0;
    TImageFormat Format = ifUnknown;
    int32_t Size = 0;
    void* Bits = nullptr;
    PPalette32 Palette = nullptr;
};

// All images of one file: mip levels, cube faces, volume slices, frames.
using TDynImageDataArray = std::vector<TImageData>;

// A set of format ids 0..231.
using TImageFormats = std::bitset<232>;

// The bit layout of a bit-field format, built from four bit counts.
struct TBitFieldLayout {
    uint8_t ABits = 0, RBits = 0, GBits = 0, BBits = 0;
    uint32_t AMask = 0, RMask = 0, GMask = 0, BMask = 0;
    uint8_t AShift = 0, RShift = 0, GShift = 0, BShift = 0;
    uint8_t AMax = 1, RMax = 1, GMax = 1, BMax = 1;
};

struct TImageFormatDescriptor;

// Byte count of the pixel data of a Width x Height image; -1 when the
// dimensions are negative or the count does not fit 64 bits.
using TDataSizeFunc = int64_t (*)(TImageFormat AFormat, int32_t AWidth, int32_t AHeight);
// Rounds the dimensions to what the format can store.
using TAdjustSizeFunc = void (*)(TImageFormat AFormat, int32_t& AWidth, int32_t& AHeight);
using TReadPixel32Func = uint32_t (*)(const uint8_t* APixel, const TImageFormatDescriptor* AInfo,
                                      const TColor32Rec* APalette);
using TReadPixelFPFunc = TColorFPRec (*)(const uint8_t* APixel, const TImageFormatDescriptor* AInfo,
                                         const TColor32Rec* APalette);
using TWritePixel32Func = void (*)(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette,
                                   uint32_t AColor);
using TWritePixelFPFunc = void (*)(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette,
                                   const TColorFPRec& AColor);

// What the library knows of one pixel format; read-only after start-up.
struct TImageFormatDescriptor {
    TImageFormat FormatId = ifUnknown;
    const char* Name = "";
    int32_t BytesPerPixel = 0; // 0 for block-compressed formats
    int32_t ChannelCount = 0;
    int32_t PaletteSize = 0;
    bool IsGray = false;
    bool HasAlpha = false;
    bool IsFloat = false;
    bool HasBitFields = false;
    bool IsSwappedRB = false;
    TImageFormat SwapPartner = ifUnknown;
    bool IsIndexed = false;
    bool IsBlockCompressed = false;
    const TBitFieldLayout* BitFields = nullptr;
    TDataSizeFunc DataSizeFunc = nullptr;
    TAdjustSizeFunc AdjustSizeFunc = nullptr;
    TReadPixel32Func ReadPixel32Func = nullptr;
    TReadPixelFPFunc ReadPixelFPFunc = nullptr;
    TWritePixel32Func WritePixel32Func = nullptr;
    TWritePixelFPFunc WritePixelFPFunc = nullptr;
    TImageFormat DecodedFormat = ifUnknown; // block-compressed formats only
};

// Every failure of the image library. An operation that catches a failure
// raises again with its own message, a blank, "Exception Message: " and the
// caught message, so nested failures read outward, innermost last.
class EImagingError : public Exception {
    using Exception::Exception;
};

} // namespace korvane
