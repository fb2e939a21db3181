// Drives the image library with arbitrary format ids, sizes, pixel bytes and
// palettes: creation, conversion between any two formats (block formats
// included), resizing, channel swaps, filtered stretches with any kernel id,
// block decoding of outside bytes, and the validity gate on forged records.
// Only EImagingError may leave an operation; anything else, and any crash or
// sanitizer report, is a finding.
//
// Input layout: source format (2 bytes), width, height, target format (2
// bytes), a byte of switches, resize width, resize height, a method byte, then
// the pixel bytes and palette bytes, repeated as needed.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Korvane.Imaging.Formats.h"
#include "Korvane.Imaging.h"
#include "Korvane.Units.h"

using namespace korvane;

namespace {

constexpr size_t HeaderSize = 10;

// A format id from two bytes: mostly ids near the table (-5..234), now and
// then any 16-bit value.
TImageFormat FormatFrom(const uint8_t* AData)
{
    const int32_t raw = AData[0] | (AData[1] << 8);
    return raw & 0x8000 ? TImageFormat(int16_t(raw)) : TImageFormat(raw % 240) - 5;
}

// Fills ALength bytes at ADst with the payload, repeated.
void Fill(uint8_t* ADst, size_t ALength, const uint8_t* APayload, size_t APayloadSize)
{
    if (APayloadSize == 0) {
        std::memset(ADst, 0, ALength);
        return;
    }
    for (size_t i = 0; i < ALength; ++i) ADst[i] = APayload[i % APayloadSize];
}

template <typename F>
void Guarded(F&& AOperation)
{
    try {
        AOperation();
    } catch (const EImagingError&) {
        // The documented failure.
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < HeaderSize) return 0;
    const TImageFormat source = FormatFrom(AData);
    const int32_t width = AData[2] % 40, height = AData[3] % 40;
    const TImageFormat target = FormatFrom(AData + 4);
    const uint8_t switches = AData[6];
    const int32_t resizeWidth = AData[7] % 48, resizeHeight = AData[8] % 48;
    const uint8_t method = AData[9];
    const uint8_t* payload = AData + HeaderSize;
    const size_t payloadSize = ASize - HeaderSize;

    TImageData image;
    Guarded([&] { CreateImageData(width, height, source, image); });
    if (image.Bits) Fill(static_cast<uint8_t*>(image.Bits), size_t(image.Size), payload, payloadSize);
    if (image.Palette)
        Fill(reinterpret_cast<uint8_t*>(image.Palette), 256 * sizeof(TColor32Rec), payload, payloadSize);

    // A forged record around the same memory must be refused without harm.
    if (switches & 1) {
        TImageData forged = image;
        if (switches & 0x40) forged.Width = -1 - (switches >> 4);
        else forged.Size += 1 + (method & 7);
        if (IsImageDataValid(forged)) __builtin_trap();
        Guarded([&] {
            if (ConvertImageData(forged, target) || ResizeImageData(forged, 3, 3, rmBicubic) ||
                SwapImageChannels(forged, 0, 2))
                __builtin_trap();
        });
    }

    // Outside bytes decoded as blocks, as an image file reader would.
    if (switches & 2) {
        const TImageFormatDescriptor* info = FindPixelFormatInfo(source);
        if (info && info->IsBlockCompressed && IsImageDataValid(image)) {
            TImageData decoded;
            Guarded([&] {
                CreateImageData(image.Width, image.Height, info->DecodedFormat, decoded);
                DecompressImage(image, decoded);
            });
            FreeImageData(decoded);
        }
    }

    Guarded([&] { ConvertImageData(image, target); });
    if (switches & 4) Guarded([&] { SwapImageChannels(image, method & 3, (method >> 2) & 3); });
    if (switches & 8) Guarded([&] { ResizeImageData(image, resizeWidth, resizeHeight, TResizeMethod(method % 3)); });

    // A filtered stretch with any kernel id into an image of the same format.
    if ((switches & 16) && IsImageDataValid(image) && image.Width > 0 && image.Height > 0 && resizeWidth > 0 &&
        resizeHeight > 0) {
        const TImageFormatDescriptor* info = FindPixelFormatInfo(image.Format);
        if (!info->IsIndexed && !info->IsBlockCompressed) {
            TImageData stretched;
            Guarded([&] {
                CreateImageData(resizeWidth, resizeHeight, image.Format, stretched);
                StretchResample(image, 0, 0, image.Width, image.Height, stretched, 0, 0, resizeWidth, resizeHeight,
                                int32_t(method % 12));
            });
            FreeImageData(stretched);
        }
    }

    // And back to where it came from.
    if (switches & 32) Guarded([&] { ConvertImageData(image, source); });
    if (!IsImageDataValid(image) && image.Bits) __builtin_trap(); // an operation left a broken record
    FreeImageData(image);
    return 0;
}
