#pragma once
// Bitmaps of the platform: a 32-bit BGRA image (B, G, R, A bytes per pixel, the
// memory layout of TAlphaColor) that is mapped for reading or writing, sized,
// assigned and watched for changes.
//
// Assigning one bitmap to another shares the image; the first write through
// Map gives the writer an image of its own (copy on write), so a shared image
// never changes under the other bitmap. Every change (SetSize, Clear, Assign,
// Unmap after a write) runs BitmapChanged, which calls OnChange.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "Platform.Canvas.h"
#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Threads.h"

namespace korvane {

// Pixel layouts of textures and bitmaps.
enum class TPixelFormat : uint8_t {
    None, RGB, RGBA, BGR, BGRA, RGBA16, BGR_565, BGRA4, BGR4, BGR5_A1, BGR5, BGR10_A2, RGB10_A2,
    L, LA, LA4, L16, A, R16F, RG16F, RGBA16F, R32F, RG32F, RGBA32F
};

enum class TMapAccess : uint8_t { Read, Write, ReadWrite };

// The bytes of a bitmap while it is mapped: Height rows of Width pixels, rows
// Pitch bytes apart, 4 bytes per pixel.
struct TBitmapData {
    void* Data = nullptr;
    int32_t Pitch = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    TPixelFormat PixelFormat = TPixelFormat::None;
    TMapAccess Access = TMapAccess::Read;

    static constexpr int BytesPerPixel = 4;
    uint8_t* GetScanline(int ARow) const { return static_cast<uint8_t*>(Data) + int64_t(ARow) * Pitch; }
    // Raise EArgumentException outside the mapped area.
    TAlphaColor GetPixel(int X, int Y) const;
    void SetPixel(int X, int Y, TAlphaColor AColor);

private:
    uint8_t* PixelAddress(int X, int Y) const;
};

// The largest side of a bitmap, and the largest image in bytes.
inline constexpr int MaxBitmapSide = 32768;
inline constexpr int64_t MaxBitmapBytes = int64_t(1) << 30;

class TBitmap : public TPersistent {
    KORVANE_CLASS(TBitmap, TPersistent)

    TBitmap();
    TBitmap(int AWidth, int AHeight);
    ~TBitmap() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    float BitmapScale() const { return FBitmapScale; }
    void SetBitmapScale(float AValue) { FBitmapScale = AValue; }
    // The format the image is labelled with; its bytes are always 32-bit BGRA.
    TPixelFormat PixelFormat() const { return FPixelFormat; }

    // A new, transparent image of that size. Raises EInvalidOperation "Bitmap
    // size too big." for a negative side, a side above MaxBitmapSide or an image
    // above MaxBitmapBytes; the bitmap is then unchanged.
    void SetSize(int AWidth, int AHeight);
    // False for an empty bitmap. A write access gives the bitmap an image of its own.
    bool Map(TMapAccess AAccess, TBitmapData& AData);
    // Ends a Map; after a write the bitmap has changed.
    void Unmap(TBitmapData& AData);
    void Clear(TAlphaColor AColor);
    // Writes the image to a file whose extension picks the format: ".bmp",
    // ".png", ".jpg" or ".jpeg" (letter case ignored). An empty bitmap, another extension or a
    // failed write raises EWriteError.
    void SaveToFile(const std::string& AFileName);
    // Decodes a PNG, JPEG, BMP or GIF image; raises EReadError for data that is
    // not an image or an image bigger than a bitmap may be (the bitmap is then unchanged).
    void LoadFromMemory(std::span<const uint8_t> ABytes);
    // The image as PNG file bytes (empty for an empty bitmap).
    std::vector<uint8_t> SaveToPNGMemory() const;
    // The pixels as RGBA bytes, rows top first.
    std::vector<uint8_t> ToRGBA() const;
    // Shares the image of a bitmap; nil empties the bitmap; other sources raise
    // the conversion error.
    void Assign(const TPersistent* Source) override;
    // The two bitmaps use one image (until one of them writes).
    bool SharesImageWith(const TBitmap& AOther) const { return FImage && FImage == AOther.FImage; }

    // Called after every change.
    std::function<void(TObject* Sender)> OnChange;

    // The bitmap's canvas, made on first request.
    TCanvas* Canvas();
    TCanvas* CanvasIfAllocated() const { return FCanvas.get(); }
    // Guards settings and resources of the bitmap.
    TMonitor& Monitor() const { return FMonitor; }

    // Frees what the bitmap made for drawing (its canvas).
    virtual void DestroyResources();

protected:
    virtual void BitmapChanged();
    void BeforeDestruction() override;
    // A new, transparent image of the current size labelled with APixelFormat.
    void CreateImageHandle(TPixelFormat APixelFormat);
    // Drops the image; the next Map makes a transparent one.
    void ReleaseImageHandle();
    void SetImagePixelFormat(TPixelFormat APixelFormat) { FPixelFormat = APixelFormat; }

private:
    struct TImage;
    void EnsureImage();

    std::shared_ptr<TImage> FImage;
    int FWidth = 0, FHeight = 0;
    float FBitmapScale = 1.0f;
    TPixelFormat FPixelFormat = TPixelFormat::BGRA;
    TOwned<TCanvas> FCanvas;
    mutable TMonitor FMonitor;
};

} // namespace korvane
