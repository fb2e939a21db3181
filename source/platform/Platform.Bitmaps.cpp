#include "Platform.Bitmaps.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TBitmap, "Platform.Bitmaps")

// ---------------------------------------------------------------------------
// TBitmapData

TAlphaColor TBitmapData::GetPixel(int X, int Y) const
{
    if (!Data || X < 0 || Y < 0 || X >= Width || Y >= Height)
        throw EArgumentException(Format("pixel (%d, %d) is outside the mapped bitmap", X, Y));
    TAlphaColor c;
    std::memcpy(&c, GetScanline(Y) + int64_t(X) * BytesPerPixel, sizeof(c));
    return c;
}

void TBitmapData::SetPixel(int X, int Y, TAlphaColor AColor)
{
    if (!Data || X < 0 || Y < 0 || X >= Width || Y >= Height)
        throw EArgumentException(Format("pixel (%d, %d) is outside the mapped bitmap", X, Y));
    std::memcpy(GetScanline(Y) + int64_t(X) * BytesPerPixel, &AColor, sizeof(AColor));
}

// ---------------------------------------------------------------------------
// TBitmap

struct TBitmap::TImage {
    std::vector<uint8_t> Bits;
};

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int AWidth, int AHeight) { SetSize(AWidth, AHeight); }

TBitmap::~TBitmap()
{
    // Free() ran DestroyResources already; a bitmap deleted directly still frees its canvas.
    FreeAndNil(FCanvas);
}

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
    if (!FCanvas) FCanvas = new TCanvas(this);
    return FCanvas;
}

void TBitmap::DestroyResources()
{
    std::lock_guard<TMonitor> lock(FMonitor);
    FreeAndNil(FCanvas);
}

void TBitmap::BitmapChanged()
{
    if (OnChange) OnChange(this);
}

} // namespace korvane
