#include "Platform.Bitmaps.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TBitmap, "Platform.Bitmaps")

// ---------------------------------------------------------------------------
// TBitmapData

uint8_t* TBitmapData::PixelAddress(int X, int Y) const
{
    if (!Data || X < 0 || Y < 0 || X >= Width || Y >= Height)
        throw EArgumentException(Format("pixel (%d, %d) is outside the mapped bitmap", X, Y));
    return GetScanline(Y) + int64_t(X) * BytesPerPixel;
}

TAlphaColor TBitmapData::GetPixel(int X, int Y) const
{
    TAlphaColor c;
    std::memcpy(&c, PixelAddress(X, Y), sizeof(c));
    return c;
}

void TBitmapData::SetPixel(int X, int Y, TAlphaColor AColor)
{
    std::memcpy(PixelAddress(X, Y), &AColor, sizeof(AColor));
}

// ---------------------------------------------------------------------------
// TBitmap

struct TBitmap::TImage {
    std::vector<uint8_t> Bits;
};

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int AWidth, int AHeight) { SetSize(AWidth, AHeight); }

// Free() ran DestroyResources already; a bitmap deleted directly still frees its canvas.
TBitmap::~TBitmap() = default;

void TBitmap::BeforeDestruction()
{
    try {
        DestroyResources();
    } catch (const Exception& e) {
        Log::d("<ERROR> %s.DestroyResources: %s", ClassName(), e.Message());
    }
    TPersistent::BeforeDestruction();
}

void TBitmap::EnsureImage()
{
    if (!FImage && !IsEmpty()) {
        FImage = std::make_shared<TImage>();
        FImage->Bits.assign(size_t(FWidth) * size_t(FHeight) * TBitmapData::BytesPerPixel, 0);
    }
}

void TBitmap::SetSize(int AWidth, int AHeight)
{
    if (AWidth < 0 || AHeight < 0 || AWidth > MaxBitmapSide || AHeight > MaxBitmapSide ||
        int64_t(AWidth) * AHeight * TBitmapData::BytesPerPixel > MaxBitmapBytes)
        throw EInvalidOperation("Bitmap size too big.");
    {
        std::lock_guard<TMonitor> lock(FMonitor);
        FWidth = AWidth;
        FHeight = AHeight;
        FImage.reset();
        EnsureImage();
    }
    BitmapChanged();
}

void TBitmap::CreateImageHandle(TPixelFormat APixelFormat)
{
    std::lock_guard<TMonitor> lock(FMonitor);
    FPixelFormat = APixelFormat;
    FImage.reset();
    EnsureImage();
}

void TBitmap::ReleaseImageHandle()
{
    std::lock_guard<TMonitor> lock(FMonitor);
    FImage.reset();
}

bool TBitmap::Map(TMapAccess AAccess, TBitmapData& AData)
{
    std::lock_guard<TMonitor> lock(FMonitor);
    AData = TBitmapData();
    if (IsEmpty()) return false;
    EnsureImage();
    if (AAccess != TMapAccess::Read && FImage.use_count() > 1) {
        // Another bitmap shares the image: the writer gets a copy of its own.
        auto own = std::make_shared<TImage>(*FImage);
        FImage = std::move(own);
    }
    AData.Data = FImage->Bits.data();
    AData.Pitch = FWidth * TBitmapData::BytesPerPixel;
    AData.Width = FWidth;
    AData.Height = FHeight;
    AData.PixelFormat = FPixelFormat;
    AData.Access = AAccess;
    return true;
}

void TBitmap::Unmap(TBitmapData& AData)
{
    const bool wrote = AData.Data && AData.Access != TMapAccess::Read;
    AData = TBitmapData();
    if (wrote) BitmapChanged();
}

void TBitmap::Clear(TAlphaColor AColor)
{
    TBitmapData data;
    if (!Map(TMapAccess::Write, data)) return;
    for (int y = 0; y < data.Height; ++y) {
        uint8_t* row = data.GetScanline(y);
        for (int x = 0; x < data.Width; ++x) std::memcpy(row + x * TBitmapData::BytesPerPixel, &AColor, 4);
    }
    Unmap(data);
}

void TBitmap::Assign(const TPersistent* Source)
{
    if (Source == this) return;
    if (!Source) {
        {
            std::lock_guard<TMonitor> lock(FMonitor);
            DestroyResources();
            FWidth = FHeight = 0;
            FImage.reset();
        }
        BitmapChanged();
        return;
    }
    const auto* src = dynamic_cast<const TBitmap*>(Source);
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    // The source's state is taken under its lock, then applied under this one's:
    // never both at once, so two bitmaps assigned crosswise cannot deadlock.
    int width, height;
    float scale;
    TPixelFormat format;
    std::shared_ptr<TImage> image;
    {
        std::lock_guard<TMonitor> srcLock(src->FMonitor);
        width = src->FWidth;
        height = src->FHeight;
        scale = src->FBitmapScale;
        format = src->FPixelFormat;
        image = src->FImage;
    }
    {
        std::lock_guard<TMonitor> lock(FMonitor);
        FWidth = width;
        FHeight = height;
        FBitmapScale = scale;
        FPixelFormat = format;
        FImage = std::move(image);
        EnsureImage();
    }
    BitmapChanged();
}

TCanvas* TBitmap::Canvas()
{
    if (!FCanvas) FCanvas = MakeOwned<TCanvas>(this);
    return FCanvas.get();
}

void TBitmap::DestroyResources()
{
    std::lock_guard<TMonitor> lock(FMonitor);
    FCanvas.reset();
}

void TBitmap::BitmapChanged()
{
    if (OnChange) OnChange(this);
}

void TBitmap::SaveToFile(const std::string& AFileName)
{
    const auto dot = AFileName.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : LowerCase(AFileName.substr(dot));
    const bool jpeg = ext == ".jpg" || ext == ".jpeg";
    if (ext != ".bmp" && ext != ".png" && !jpeg)
        throw EWriteError(Format("cannot save bitmap to \"%s\": unsupported file type", AFileName));
    if (IsEmpty()) throw EWriteError(Format("cannot save an empty bitmap to \"%s\"", AFileName));

    const std::vector<uint8_t> rgba = ToRGBA();
    int ok = 0;
    if (ext == ".bmp") ok = stbi_write_bmp(AFileName.c_str(), Width(), Height(), 4, rgba.data());
    else if (ext == ".png") ok = stbi_write_png(AFileName.c_str(), Width(), Height(), 4, rgba.data(), Width() * 4);
    // JPEG has no alpha: the writer drops it.
    else ok = stbi_write_jpg(AFileName.c_str(), Width(), Height(), 4, rgba.data(), 90);
    if (!ok) throw EWriteError(Format("cannot write bitmap file \"%s\"", AFileName));
}

std::vector<uint8_t> TBitmap::ToRGBA() const
{
    // The codecs take RGBA rows, top row first; our pixels are BGRA.
    std::vector<uint8_t> rgba(size_t(Width()) * size_t(Height()) * 4);
    TBitmapData data;
    auto* self = const_cast<TBitmap*>(this);
    if (IsEmpty() || !self->Map(TMapAccess::Read, data)) return {};
    for (int y = 0; y < Height(); ++y) {
        const uint8_t* src = data.GetScanline(y);
        uint8_t* dst = rgba.data() + size_t(y) * size_t(Width()) * 4;
        for (int x = 0; x < Width(); ++x, src += 4, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = src[3];
        }
    }
    self->Unmap(data);
    return rgba;
}

void TBitmap::LoadFromMemory(std::span<const uint8_t> ABytes)
{
    if (ABytes.empty() || ABytes.size() > size_t(INT32_MAX)) throw EReadError("cannot read image: no image data");
    int w = 0, h = 0, n = 0;
    // Refuse sizes the bitmap cannot hold before decoding anything.
    if (!stbi_info_from_memory(ABytes.data(), int(ABytes.size()), &w, &h, &n))
        throw EReadError(Format("cannot read image: %s", stbi_failure_reason()));
    if (w <= 0 || h <= 0 || w > MaxBitmapSide || h > MaxBitmapSide || int64_t(w) * h * 4 > MaxBitmapBytes)
        throw EReadError(Format("cannot read image: size %d x %d too big", w, h));
    stbi_uc* pixels = stbi_load_from_memory(ABytes.data(), int(ABytes.size()), &w, &h, &n, 4);
    if (!pixels) throw EReadError(Format("cannot read image: %s", stbi_failure_reason()));
    try {
        SetSize(w, h);
        TBitmapData data;
        if (Map(TMapAccess::Write, data)) {
            for (int y = 0; y < h; ++y) {
                const stbi_uc* src = pixels + size_t(y) * size_t(w) * 4;
                uint8_t* dst = data.GetScanline(y);
                for (int x = 0; x < w; ++x, src += 4, dst += 4) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                    dst[3] = src[3];
                }
            }
            Unmap(data);
        }
    } catch (...) {
        stbi_image_free(pixels);
        throw;
    }
    stbi_image_free(pixels);
}

std::vector<uint8_t> TBitmap::SaveToPNGMemory() const
{
    if (IsEmpty()) return {};
    const std::vector<uint8_t> rgba = ToRGBA();
    std::vector<uint8_t> out;
    auto write = [](void* context, void* data, int size) {
        auto* o = static_cast<std::vector<uint8_t>*>(context);
        o->insert(o->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    if (!stbi_write_png_to_func(write, &out, Width(), Height(), 4, rgba.data(), Width() * 4))
        throw EWriteError("cannot encode bitmap as PNG");
    return out;
}

} // namespace korvane
