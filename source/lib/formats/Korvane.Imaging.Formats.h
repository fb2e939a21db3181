#pragma once
// The pixel-format table and everything that works on raw pixels: reading and
// writing one pixel of any plain format, converting pixel runs between the
// four format classes (indexed, gray, float, channel), median-cut colour
// reduction, nearest and filtered resampling, and the block-compressed
// formats (DXT1, DXT3, DXT5, BTC, ATI1N, ATI2N).
//
// The run-level routines (ConvertPixels, ReduceColors, the stretches) trust
// their caller: the image operations of Korvane.Imaging check images, formats
// and rectangles before they call them. The whole-image routines of the block
// formats check their images themselves and raise EImagingError.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvane.Imaging.Types.h"

namespace korvane {

// ---- The format table ----------------------------------------------------

// Fills the descriptor table and the bit-field layouts (start-up).
void InitPixelFormatTable();
// The descriptor of AFormat, or null for an id without one (any id outside 0..225).
const TImageFormatDescriptor* FindPixelFormatInfo(TImageFormat AFormat);
// Copies the descriptor of AFormat and returns true; zeros and false for an unknown id.
bool GetPixelFormatInfo(TImageFormat AFormat, TImageFormatDescriptor& AInfo);
// The format's name, or "Unknown and unsupported format".
std::string GetPixelFormatName(TImageFormat AFormat);
bool IsImageFormatValid(TImageFormat AFormat);
// The format is known, the dimensions are not negative, Size is exactly the
// format's data size, and the pixel data and palette the format needs are
// present. Never raises.
bool IsImageDataValid(const TImageData& AImage);

// ---- Class readers and writers (the common currency of conversions) ------

TColor64Rec ChannelGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo);
void ChannelSetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, TColor64Rec AColor);
// AGray holds the gray value in its most significant bits (gray16 = AGray shr 48).
void GrayGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo, uint64_t& AGray, uint16_t& AAlpha);
void GraySetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, uint64_t AGray, uint16_t AAlpha);
TColorFPRec FloatGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo);
void FloatSetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, TColorFPRec AColor);

// ---- Conversion and colour reduction --------------------------------------

// Converts ACount pixels between two plain formats. APalette arguments must
// hold the palettes of indexed formats.
void ConvertPixels(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                   const TImageFormatDescriptor& ADstInfo, const TColor32Rec* ASrcPalette, TColor32Rec* ADstPalette);

// The steps of ReduceColors, combined as a bit set.
enum TReduceColorsAction : uint32_t {
    raClearHash = 1,    // forget the colours counted so far
    raCountColors = 2,  // count the (masked) colours of ASrc
    raBuildPalette = 4, // split the colour boxes and fill ADstPalette
    raMapPixels = 8,    // write the palette index of each source pixel to ADst
};
constexpr uint32_t raAllActions = raClearHash | raCountColors | raBuildPalette | raMapPixels;

// Median-cut colour reduction to at most AMaxColors (clamped to 2..4096)
// palette entries; ADstPalette gets AMaxColors entries, the unused ones opaque
// black, ordered by pixel count, largest first. The state between actions
// belongs to the calling thread.
void ReduceColors(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                  const TImageFormatDescriptor& ADstInfo, int32_t AMaxColors, uint8_t AChannelMask,
                  TColor32Rec* ADstPalette, uint32_t AActions);

// ---- Resampling ------------------------------------------------------------

// Filter kernels by index.
enum TFilterKernel : int32_t {
    fkBox,
    fkTriangle,
    fkCosine,
    fkHermite,
    fkQuadratic,
    fkGaussian,
    fkBSpline,
    fkLanczos,
    fkMitchell,
    fkCatmullRom,
};
constexpr int32_t FilterKernelCount = 10;

using TFilterFunction = float (*)(float AValue);
// The kernel and its support radius (tables filled at start-up); null and 0
// for an index outside 0..9.
TFilterFunction FilterKernelFunction(int32_t AKernel);
float FilterKernelRadius(int32_t AKernel);

struct TPointRec {
    int32_t Pos;
    float Weight;
};
using TCluster = std::vector<TPointRec>;
using TMappingTable = std::vector<TCluster>;

// One cluster of weighted source positions per destination position
// ADstStart..ADstEnd - 1, taken from source positions ASrcStart..ASrcEnd - 1.
TMappingTable BuildMappingTable(int32_t ADstStart, int32_t ADstEnd, int32_t ASrcStart, int32_t ASrcEnd,
                                TFilterFunction AKernel, float ARadius);

// Both images of the same plain format; the rectangles lie inside their images.
void StretchNearest(const TImageData& ASrc, int32_t ASrcX, int32_t ASrcY, int32_t ASrcWidth, int32_t ASrcHeight,
                    TImageData& ADst, int32_t ADstX, int32_t ADstY, int32_t ADstWidth, int32_t ADstHeight);
// As StretchNearest, through the separable kernel AKernel; the format is
// neither indexed nor block-compressed.
void StretchResample(const TImageData& ASrc, int32_t ASrcX, int32_t ASrcY, int32_t ASrcWidth, int32_t ASrcHeight,
                     TImageData& ADst, int32_t ADstX, int32_t ADstY, int32_t ADstWidth, int32_t ADstHeight,
                     int32_t AKernel);

// ---- Block-compressed formats ----------------------------------------------

// Decodes every block of AImage into ATarget, an image of the same dimensions
// in the format's DecodedFormat; only pixels inside ATarget are written.
void DecompressImage(const TImageData& AImage, TImageData& ATarget);
// Encodes ASource (in AImage's DecodedFormat, same dimensions) into AImage.
void CompressImage(const TImageData& ASource, TImageData& AImage);
// The conversion of an image when its format or the target format is block-compressed.
void ConvertSpecialImage(TImageData& AImage, const TImageFormatDescriptor& ASrcInfo,
                         const TImageFormatDescriptor& ADstInfo);

} // namespace korvane
