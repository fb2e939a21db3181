#include "Platform.Textures.h"

#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"
#include "Platform.Types3D.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TTexture, "Platform.Textures")
KORVANE_IMPLEMENT_CLASS(TTextureBitmap, "Platform.Textures")

// ---------------------------------------------------------------------------
// TTexture

TTexture::~TTexture()
{
    if (FHandle == 0) return;
    try {
        Finalize();
    } catch (const Exception& e) {
        Log::d("<ERROR> %s: the GPU texture could not be deleted: %s", ClassName(), e.Message());
    }
}

void TTexture::SetSize(int AWidth, int AHeight)
{
    if (AWidth == FWidth && AHeight == FHeight) return;
    Finalize();
    FWidth = AWidth;
    FHeight = AHeight;
}

void TTexture::Initialize()
{
    if (FHandle == 0) TContextManager::DefaultContextClass().DoInitializeTexture(this);
}

void TTexture::Finalize()
{
    if (FHandle != 0) TContextManager::DefaultContextClass().DoFinalizeTexture(this);
}

void TTexture::UpdateTexture(const void* ABits, int APitch)
{
    Initialize();
    if (FHandle != 0) TContextManager::DefaultContextClass().DoUpdateTexture(this, ABits, APitch);
}

void TTexture::Assign(const TPersistent* Source)
{
    if (Source == this) return;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(Source)) {
        Finalize();
        FPixelFormat = bitmap->PixelFormat();
        FTextureScale = bitmap->BitmapScale();
        FStyle = {TTextureStyle::Dynamic};
        SetSize(bitmap->Width(), bitmap->Height());
        // Reading does not change the bitmap.
        auto* source = const_cast<TBitmap*>(bitmap);
        TBitmapData data;
        if (source->Map(TMapAccess::Read, data)) {
            try {
                UpdateTexture(data.Data, data.Pitch);
            } catch (...) {
                source->Unmap(data);
                throw;
            }
            source->Unmap(data);
        }
        return;
    }
    if (const auto* texture = dynamic_cast<const TTexture*>(Source)) {
        SetSize(texture->FWidth, texture->FHeight);
        FPixelFormat = texture->FPixelFormat;
        FStyle = texture->FStyle;
        FMinFilter = texture->FMinFilter;
        FMagFilter = texture->FMagFilter;
        FTextureScale = texture->FTextureScale;
        return;
    }
    TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------
// TTextureBitmap

// Free() ran DestroyResources already; a bitmap deleted directly still frees its texture.
TTextureBitmap::~TTextureBitmap() = default;

TTexture* TTextureBitmap::Texture()
{
    if (!FTexture) FTexture.reset(TContextManager::DefaultContextClass().DoBitmapToTexture(this));
    return FTexture.get();
}

void TTextureBitmap::DestroyResources()
{
    std::lock_guard<TMonitor> lock(Monitor());
    TBitmap::DestroyResources();
    FTexture.reset();
}

void TTextureBitmap::UpdateTextureFromBitmap()
{
    if (FTexture) FTexture->Assign(this);
}

void TTextureBitmap::BitmapChanged()
{
    UpdateTextureFromBitmap();
    TBitmap::BitmapChanged();
}

} // namespace korvane
