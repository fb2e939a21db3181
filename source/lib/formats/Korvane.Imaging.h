#pragma once
// The public operations on image records: creating, freeing, converting,
// resizing and swapping channels, the palette routines they use, and the
// error convention of the library.
//
// Every operation first tests its image with IsImageDataValid and returns
// false, leaving the image untouched, when it is invalid. Failures inside an
// operation raise EImagingError with the operation's message; a failure
// caught from an inner step is appended after " Exception Message: ".
//
// Sizes. Pixel-data sizes are computed in 64 bits and an image whose data
// would exceed MaxImageDataSize bytes is refused before anything is allocated.

#include <cstdint>
#include <string>

#include "Korvane.Imaging.Types.h"

namespace korvane {

// The largest pixel data an image may hold: TImageData::Size is a 32-bit count.
constexpr int64_t MaxImageDataSize = INT32_MAX;

// Raises EImagingError with AMessage; called while an exception is being
// handled, the caught exception's message is appended after " Exception Message: ".
[[noreturn]] void RaiseImagingError(const std::string& AMessage);

// The colour mask that conversions to indexed formats pass to ReduceColors (255).
extern int32_t GColorReductionMask;

void InitImageData(TImageData& AImage);
// Frees AImage's previous content and creates a zero-filled image; the format
// may round the dimensions (block formats to multiples of 4); id 1 stands for
// A8R8G8B8. A width or height of 0 or an unknown format leaves the image empty
// and returns false; negative dimensions or data larger than MaxImageDataSize raise.
bool CreateImageData(int32_t AWidth, int32_t AHeight, TImageFormat AFormat, TImageData& AImage);
// Releases the pixel data and palette of a valid image; the record is zeroed in every case.
bool FreeImageData(TImageData& AImage);
// Converts the image to AFormat (id 1 stands for A8R8G8B8); true for a valid image.
bool ConvertImageData(TImageData& AImage, TImageFormat AFormat);

enum TResizeMethod : int32_t { rmNearest, rmBilinear, rmBicubic };
// Resizes the whole image (both sizes at least 1); false when the size does not change.
bool ResizeImageData(TImageData& AImage, int32_t AWidth, int32_t AHeight, TResizeMethod AMethod);
// Exchanges two channels (0 blue, 1 green, 2 red, 3 alpha) in every pixel;
// false when they are the same channel.
bool SwapImageChannels(TImageData& AImage, int32_t AChannelA, int32_t AChannelB);

// The entry equal to AColor, else the nearest one whose summed channel
// difference is below 1020, else -1.
int32_t FindPaletteColor(const TColor32Rec* APalette, int32_t AEntries, uint32_t AColor);
// Entry i becomes gray i (modulo 256), opaque.
void FillGrayscalePalette(TColor32Rec* APalette, int32_t AEntries);
void SwapPaletteChannels(TColor32Rec* APalette, int32_t AEntries, int32_t AChannelA, int32_t AChannelB);

// A description of the image for messages.
std::string ImageDataInfo(const TImageData& AImage);

} // namespace korvane
