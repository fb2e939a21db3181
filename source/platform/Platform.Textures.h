#pragma once
// GPU textures of the platform's 3D layer and bitmaps that carry one.
//
// A TTexture is a size, a pixel format, styles and filters, plus the GPU name
// once the default context class has made it (Initialize). The context class
// creates, fills and deletes the GPU object (Platform.Types3D.h); its handle and
// scale are written only through the texture-access interface.
//
// A TTextureBitmap is a bitmap whose GPU texture is made on the first request
// of Texture() through the default context class's DoBitmapToTexture, is filled
// again from the bitmap's pixels whenever the bitmap changes, and is freed with
// the bitmap's resources. The bitmap owns that texture.

#include <cstdint>

#include "Platform.Bitmaps.h"

namespace korvane {

enum class TTextureStyle : uint8_t { MipMaps, Dynamic, RenderTarget, Volatile };
using TTextureStyles = TSet<TTextureStyle>;

enum class TTextureFilter : uint8_t { Nearest, Linear };

// What the context classes write into a texture.
class ITextureAccess {
public:
    virtual void SetHandle(uintptr_t AHandle) = 0;
    virtual void SetTextureScale(float AScale) = 0;

protected:
    ~ITextureAccess() = default;
};

class TTexture : public TPersistent, private ITextureAccess {
    KORVANE_CLASS(TTexture, TPersistent)

    TTexture() = default;
    // Deletes the GPU texture if there is one.
    ~TTexture() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    // A new size drops the GPU texture, which no longer fits.
    void SetSize(int AWidth, int AHeight);
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat AFormat) { FPixelFormat = AFormat; }
    TTextureStyles Style() const { return FStyle; }
    void SetStyle(TTextureStyles AStyle) { FStyle = AStyle; }
    TTextureFilter MinFilter() const { return FMinFilter; }
    void SetMinFilter(TTextureFilter AFilter) { FMinFilter = AFilter; }
    TTextureFilter MagFilter() const { return FMagFilter; }
    void SetMagFilter(TTextureFilter AFilter) { FMagFilter = AFilter; }
    float TextureScale() const { return FTextureScale; }
    // The GPU name; 0 while there is no GPU texture.
    uintptr_t Handle() const { return FHandle; }

    // Makes the GPU texture through the default context class, unless there is one.
    void Initialize();
    // Deletes the GPU texture through the default context class, if there is one.
    void Finalize();
    // Uploads rows of pixels APitch bytes apart, making the GPU texture first when needed.
    void UpdateTexture(const void* ABits, int APitch);

    // From a bitmap: drops the GPU texture, takes the bitmap's pixel format,
    // scale and size, the style Dynamic, and uploads its pixels. From a texture:
    // its size, pixel format, styles, filters and scale (no GPU object).
    void Assign(const TPersistent* Source) override;

    ITextureAccess& TextureAccess() { return *this; }

private:
    void SetHandle(uintptr_t AHandle) override { FHandle = AHandle; }
    void SetTextureScale(float AScale) override { FTextureScale = AScale; }

    int FWidth = 0, FHeight = 0;
    TPixelFormat FPixelFormat = TPixelFormat::BGRA;
    TTextureStyles FStyle;
    TTextureFilter FMinFilter = TTextureFilter::Linear;
    TTextureFilter FMagFilter = TTextureFilter::Linear;
    float FTextureScale = 1.0f;
    uintptr_t FHandle = 0;
};

class TTextureBitmap : public TBitmap {
    KORVANE_CLASS(TTextureBitmap, TBitmap)

    TTextureBitmap() = default;
    TTextureBitmap(int AWidth, int AHeight) : TBitmap(AWidth, AHeight) {}
    ~TTextureBitmap() override;

    // The bitmap's GPU texture, made on the first request.
    TTexture* Texture();
    // Frees the canvas and the texture.
    void DestroyResources() override;

protected:
    // Fills the texture again from the pixels, then tells the listeners.
    void BitmapChanged() override;
    // Fills the texture (if there is one) from the bitmap.
    void UpdateTextureFromBitmap();

    TOwned<TTexture> FTexture;
};

} // namespace korvane
