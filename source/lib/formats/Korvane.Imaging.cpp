#include "Korvane.Imaging.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "Korvane.Imaging.Formats.h"

namespace korvane {

int32_t GColorReductionMask = 255;

void RaiseImagingError(const std::string& AMessage)
{
    std::string text = AMessage;
    if (const std::exception_ptr inner = std::current_exception()) {
        try {
            std::rethrow_exception(inner);
        } catch (const std::exception& e) {
            text += std::string(" Exception Message: ") + e.what();
        } catch (...) {
            text += " Exception Message: unknown failure";
        }
    }
    throw EImagingError(text);
}

namespace {

// A failed precondition: a programming error of the caller, reported as an
// assertion naming this unit and the line.
void Require(bool ACondition, const char* AText, int ALine)
{
    if (!ACondition) throw EAssertionFailed(AText, "source/lib/formats/Korvane.Imaging", ALine);
}

// Runs an operation's body; any failure leaves as EImagingError with the
// operation's message (built only then) in front of the inner message.
template <typename Body, typename Message>
auto RunOperation(Body&& ABody, Message&& AMessage) -> decltype(ABody())
{
    try {
        return ABody();
    } catch (...) {
        RaiseImagingError(AMessage());
    }
}

struct TFreeDeleter {
    void operator()(void* APtr) const { std::free(APtr); }
};
using TBlock = std::unique_ptr<void, TFreeDeleter>;

// The pixel-data size of a AWidth x AHeight image of AInfo's format, checked
// against what an image may hold before anything is allocated.
int64_t CheckedDataSize(const TImageFormatDescriptor& AInfo, int32_t AWidth, int32_t AHeight)
{
    const int64_t size = AInfo.DataSizeFunc(AInfo.FormatId, AWidth, AHeight);
    if (size < 0 || size > MaxImageDataSize)
        RaiseImagingError(Format("An image of %dx%d pixels in format %s needs %s bytes, more than the %d bytes "
                                 "an image may hold.",
                                 AWidth, AHeight, AInfo.Name, size < 0 ? std::string("too many") : IntToStr(size),
                                 MaxImageDataSize));
    return size;
}

TBlock AllocateZeroed(int64_t ABytes)
{
    if (ABytes <= 0) return nullptr;
    TBlock block(std::calloc(size_t(ABytes), 1));
    if (!block) RaiseImagingError(Format("Out of memory allocating %d bytes of image data.", ABytes));
    return block;
}

TBlock AllocatePalette(const TImageFormatDescriptor& AInfo)
{
    return AllocateZeroed(int64_t(AInfo.PaletteSize) * int64_t(sizeof(TColor32Rec)));
}

} // namespace

void InitImageData(TImageData& AImage) { AImage = TImageData{}; }

bool CreateImageData(int32_t AWidth, int32_t AHeight, TImageFormat AFormat, TImageData& AImage)
{
    return RunOperation(
        [&] {
            Require(AWidth >= 0 && AHeight >= 0, "The image dimensions must not be negative", __LINE__);
            FreeImageData(AImage);
            const TImageFormat format = AFormat == ifDefault ? DefaultImageFormat : AFormat;
            const TImageFormatDescriptor* info = FindPixelFormatInfo(format);
            if (!info || AWidth == 0 || AHeight == 0) return false;
            int32_t width = AWidth, height = AHeight;
            info->AdjustSizeFunc(format, width, height);
            const int64_t size = CheckedDataSize(*info, width, height);
            if (size <= 0) return false;
            TBlock bits = AllocateZeroed(size);
            TBlock palette = AllocatePalette(*info);
            AImage.Width = width;
            AImage.Height = height;
            AImage.Format = format;
            AImage.Size = int32_t(size);
            AImage.Bits = bits.release();
            AImage.Palette = static_cast<PPalette32>(palette.release());
            return IsImageDataValid(AImage);
        },
        [&] {
            return Format("Error while creating image data with params: Width=%d Height=%d Format=%s.", AWidth,
                          AHeight, GetPixelFormatName(AFormat));
        });
}

bool FreeImageData(TImageData& AImage)
{
    const bool valid = IsImageDataValid(AImage);
    if (valid) {
        std::free(AImage.Bits);
        std::free(AImage.Palette);
    }
    InitImageData(AImage);
    return valid;
}

bool ConvertImageData(TImageData& AImage, TImageFormat AFormat)
{
    const TImageFormat target = AFormat == ifDefault ? DefaultImageFormat : AFormat;
    return RunOperation(
        [&] {
            Require(IsImageFormatValid(target), "The target format must be a known format", __LINE__);
            if (!IsImageDataValid(AImage)) return false;
            if (AImage.Format == target) return true;
            const TImageFormatDescriptor& src = *FindPixelFormatInfo(AImage.Format);
            const TImageFormatDescriptor& dst = *FindPixelFormatInfo(target);
            if (src.SwapPartner == target && dst.SwapPartner == AImage.Format) {
                SwapImageChannels(AImage, 2, 0);
                AImage.Format = target;
                return true;
            }
            // An image without pixels needs no blocks: it only changes its format.
            const bool empty = AImage.Width == 0 || AImage.Height == 0;
            if ((src.IsBlockCompressed || dst.IsBlockCompressed) && !empty) {
                ConvertSpecialImage(AImage, src, dst);
                return true;
            }
            const int64_t size = CheckedDataSize(dst, AImage.Width, AImage.Height);
            TBlock bits = AllocateZeroed(size);
            TBlock palette = AllocatePalette(dst);
            ConvertPixels(int64_t(AImage.Width) * AImage.Height, AImage.Bits, bits.get(), src, dst, AImage.Palette,
                          static_cast<PPalette32>(palette.get()));
            std::free(AImage.Bits);
            std::free(AImage.Palette);
            AImage.Format = target;
            AImage.Size = int32_t(size);
            AImage.Bits = bits.release();
            AImage.Palette = static_cast<PPalette32>(palette.release());
            return true;
        },
        [&] {
            return Format("Error while converting image to format \"%s\". %s", GetPixelFormatName(target),
                          ImageDataInfo(AImage));
        });
}

bool ResizeImageData(TImageData& AImage, int32_t AWidth, int32_t AHeight, TResizeMethod AMethod)
{
    return RunOperation(
        [&] {
            Require(AWidth >= 1 && AHeight >= 1, "The new image size must be at least 1 x 1", __LINE__);
            if (!IsImageDataValid(AImage)) return false;
            if (AImage.Width == AWidth && AImage.Height == AHeight) return false;
            const TImageFormatDescriptor& info = *FindPixelFormatInfo(AImage.Format);
            if (info.IsBlockCompressed) {
                // Blocks are resized through their decoded pixels.
                const TImageFormat format = AImage.Format;
                ConvertImageData(AImage, info.DecodedFormat);
                ResizeImageData(AImage, AWidth, AHeight, AMethod);
                ConvertImageData(AImage, format);
                return true;
            }
            TImageData result;
            CreateImageData(AWidth, AHeight, AImage.Format, result);
            if (AMethod == rmNearest || info.IsIndexed)
                StretchNearest(AImage, 0, 0, AImage.Width, AImage.Height, result, 0, 0, AWidth, AHeight);
            else
                StretchResample(AImage, 0, 0, AImage.Width, AImage.Height, result, 0, 0, AWidth, AHeight,
                                AMethod == rmBilinear ? fkTriangle : fkCatmullRom);
            // The image keeps its own palette.
            std::free(AImage.Bits);
            std::free(result.Palette);
            AImage.Width = result.Width;
            AImage.Height = result.Height;
            AImage.Size = result.Size;
            AImage.Bits = result.Bits;
            return true;
        },
        [&] { return Format("Error while resizing image.  %s", ImageDataInfo(AImage)); });
}

bool SwapImageChannels(TImageData& AImage, int32_t AChannelA, int32_t AChannelB)
{
    return RunOperation(
        [&] {
            Require(AChannelA >= 0 && AChannelA <= 3 && AChannelB >= 0 && AChannelB <= 3,
                    "Channels must lie in 0..3", __LINE__);
            if (!IsImageDataValid(AImage) || AChannelA == AChannelB) return false;
            const TImageFormatDescriptor& info = *FindPixelFormatInfo(AImage.Format);
            const int64_t count = int64_t(AImage.Width) * AImage.Height;
            uint8_t* px = static_cast<uint8_t*>(AImage.Bits);
            const int32_t bpp = info.BytesPerPixel;
            const bool alphaInvolved = AChannelA == 3 || AChannelB == 3;
            if ((AImage.Format == ifR8G8B8 || AImage.Format == ifA8R8G8B8) && !alphaInvolved) {
                for (int64_t i = 0; i < count; ++i, px += bpp) std::swap(px[AChannelA], px[AChannelB]);
            } else if (info.IsIndexed) {
                SwapPaletteChannels(AImage.Palette, info.PaletteSize, AChannelA, AChannelB);
            } else if (info.IsFloat) {
                for (int64_t i = 0; i < count; ++i, px += bpp) {
                    TColorFPRec c = FloatGetSrcPixel(px, info);
                    float* channels[4] = {&c.B, &c.G, &c.R, &c.A};
                    std::swap(*channels[AChannelA], *channels[AChannelB]);
                    FloatSetDstPixel(px, info, c);
                }
            } else if (info.IsBlockCompressed) {
                const TImageFormat format = AImage.Format;
                ConvertImageData(AImage, DefaultImageFormat);
                SwapImageChannels(AImage, AChannelA, AChannelB);
                ConvertImageData(AImage, format);
            } else if (info.IsGray) {
                // A gray pixel has one colour value: only exchanging it with alpha changes it.
                if (info.HasAlpha && alphaInvolved)
                    for (int64_t i = 0; i < count; ++i, px += bpp) {
                        uint64_t gray;
                        uint16_t alpha;
                        GrayGetSrcPixel(px, info, gray, alpha);
                        GraySetDstPixel(px, info, uint64_t(alpha) << 48, uint16_t(gray >> 48));
                    }
            } else {
                for (int64_t i = 0; i < count; ++i, px += bpp) {
                    TColor64Rec c = ChannelGetSrcPixel(px, info);
                    uint16_t* channels[4] = {&c.B, &c.G, &c.R, &c.A};
                    std::swap(*channels[AChannelA], *channels[AChannelB]);
                    ChannelSetDstPixel(px, info, c);
                }
            }
            return true;
        },
        [&] { return Format("Error while swapping channels of image. %s", ImageDataInfo(AImage)); });
}

int32_t FindPaletteColor(const TColor32Rec* APalette, int32_t AEntries, uint32_t AColor)
{
    return RunOperation(
        [&] {
            Require(APalette != nullptr, "A palette must be given", __LINE__);
            for (int32_t i = 0; i < AEntries; ++i)
                if (APalette[i].Color == AColor) return i;
            const TColor32Rec color{.Color = AColor};
            int32_t best = -1, bestDistance = 1020;
            for (int32_t i = 0; i < AEntries; ++i) {
                const TColor32Rec& e = APalette[i];
                const int32_t d = std::abs(e.R - color.R) + std::abs(e.G - color.G) + std::abs(e.B - color.B) +
                                  std::abs(e.A - color.A);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            return best;
        },
        [&] {
            return Format("Error while finding color in palette @%p with %d entries.",
                          static_cast<const void*>(APalette), AEntries);
        });
}

void FillGrayscalePalette(TColor32Rec* APalette, int32_t AEntries)
{
    RunOperation(
        [&] {
            Require(APalette != nullptr, "A palette must be given", __LINE__);
            for (int32_t i = 0; i < AEntries; ++i) {
                const uint8_t g = uint8_t(i);
                APalette[i].B = APalette[i].G = APalette[i].R = g;
                APalette[i].A = 255;
            }
            return true;
        },
        [&] {
            return Format("Error while filling grayscale palette @%p with %d entries.",
                          static_cast<const void*>(APalette), AEntries);
        });
}

void SwapPaletteChannels(TColor32Rec* APalette, int32_t AEntries, int32_t AChannelA, int32_t AChannelB)
{
    RunOperation(
        [&] {
            Require(APalette != nullptr, "A palette must be given", __LINE__);
            Require(AChannelA >= 0 && AChannelA <= 3 && AChannelB >= 0 && AChannelB <= 3,
                    "Channels must lie in 0..3", __LINE__);
            for (int32_t i = 0; i < AEntries; ++i) {
                uint8_t* bytes = reinterpret_cast<uint8_t*>(&APalette[i]);
                std::swap(bytes[AChannelA], bytes[AChannelB]);
            }
            return true;
        },
        [&] {
            return Format("Error while swapping channels of palette @%p with %d entries.",
                          static_cast<const void*>(APalette), AEntries);
        });
}

std::string ImageDataInfo(const TImageData& AImage)
{
    const void* self = &AImage;
    if (!IsImageDataValid(AImage))
        return Format("Access violation encountered when getting info on image at address %p.", self);
    const bool kib = AImage.Size > 8192;
    return Format("Image @%p info: Width = %dpx, Height = %dpx, Format = %s, Size = %.0n %s, Bits @%p, Palette @%p.",
                  self, AImage.Width, AImage.Height, GetPixelFormatName(AImage.Format),
                  double(kib ? AImage.Size / 1024 : AImage.Size), kib ? "KiB" : "B",
                  static_cast<const void*>(AImage.Bits), static_cast<const void*>(AImage.Palette));
}

namespace units {

// The image library's own start-up: the pixel-format table (the resampling
// kernels are filled by Korvane.Imaging.Formats, earlier in the list).
void ImagingInitialize()
{
    InitPixelFormatTable();
    GColorReductionMask = 255;
}

} // namespace units

} // namespace korvane
