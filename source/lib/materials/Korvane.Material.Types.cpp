#include "Korvane.Material.Types.h"

#include <cstring>

#include "Platform.ClassRegistry.h"

namespace korvane {

TKorvaneShaderData InitShaderData()
{
    TKorvaneShaderData data;
    std::memset(static_cast<void*>(&data), 0, sizeof(data));
    data.ShadingModel = 2;
    data.ShadingIntensity = 1.0f;
    data.Brightness = 1.0f;
    data.ViewSize.Z = 1.0f;
    data.ViewSize.W = 1000.0f;
    InitShaderMaterialData(data.Material);
    data.FogMode = 3;
    data.FogDensity = 0.001f;
    data.FogStart = 100.0f;
    data.FogEnd = 500.0f;
    data.FogColor = TAlphaColorF(0, 0, 0, 1);
    return data;
}

// ---------------------------------------------------------------------------
// Texture pool

KORVANE_IMPLEMENT_CLASS(TKorvaneTexturePoolEntry, "Korvane.Material.Types")
KORVANE_IMPLEMENT_CLASS(TKorvaneTexturePool, "Korvane.Material.Types")
TClass TKorvaneBitmapPoolEntry::StaticClass()
{
    // What a form resource streams of an entry; the formats follow from the
    // material source, which configures its own entries by name.
    using T = TKorvaneBitmapPoolEntry;
    static const TClassInfo<T> info("Korvane.Material.Types", [](auto& c) {
        c.Property("Name", &T::Name, &T::SetName, TValue::From(std::string()));
        c.Property("TilingX", &T::TilingX, &T::SetTilingX, TValue::From(1.0f));
        c.Property("TilingY", &T::TilingY, &T::SetTilingY, TValue::From(1.0f));
        c.Property("IgnoreInArray", &T::IgnoreInArray, &T::SetIgnoreInArray, TValue::From(false));
        c.Property("IsDynamic", &T::IsDynamic, &T::SetIsDynamic, TValue::From(false));
        c.Property("Bitmap", [](const T& e) { return static_cast<TBitmap*>(e.Bitmap()); });
    });
    return &info;
}
KORVANE_IMPLEMENT_CLASS(TKorvaneBitmapPool, "Korvane.Material.Types")

TKorvaneTexturePoolEntry::TKorvaneTexturePoolEntry(TCollection* ACollection) : TCollectionItem(ACollection) {}

void TKorvaneTexturePoolEntry::SetPixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps,
                                              TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType)
{
    FSettings.TextureKind = ATextureKind;
    FSettings.InternalFormat = AComps;
    FSettings.Format = AFormat;
    FSettings.DataType = ADataType;
}

void TKorvaneTexturePoolEntry::AssignTo(TPersistent* Dest) const
{
    auto* dest = dynamic_cast<TKorvaneTexturePoolEntry*>(Dest);
    if (!dest) {
        TCollectionItem::AssignTo(Dest);
        return;
    }
    dest->FName = FName;
    dest->FTiling = FTiling;
    dest->FTexture = FTexture;
    dest->FSettings = FSettings;
    dest->FBorderColor = FBorderColor;
}

namespace {
TClass CheckedItemClass(TClass AItemClass, TClass ABase)
{
    if (!AItemClass || !AItemClass->InheritsFrom(ABase))
        throw EInvalidOperation("the item class of the pool must descend from " + ABase->ClassName());
    return AItemClass;
}
} // namespace

TKorvaneTexturePool::TKorvaneTexturePool(TPersistent* AOwner, TClass AItemClass)
    : TOwnedCollection(AOwner, CheckedItemClass(AItemClass, TKorvaneTexturePoolEntry::StaticClass()))
{
}

int TKorvaneTexturePool::IndexOfTexture(const TTexture* ATexture) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Texture() == ATexture) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// Bitmap pool

namespace {

TKorvaneBitmapPool* BitmapPoolOf(const TCollectionItem* AItem)
{
    return dynamic_cast<TKorvaneBitmapPool*>(AItem->Collection());
}

// The bitmap pool entry's own defaults: a 32-bit BGRA image stored as RGBA8.
TKorvanePoolEntrySettings BitmapEntryDefaults()
{
    TKorvanePoolEntrySettings s;
    s.InternalFormat = TPixelFormatEx::RGBA8;
    s.Format = TPixelFormatEx::BGRA;
    s.DataType = TKorvaneTextureDataType::dtUnsignedByte;
    return s;
}

} // namespace

TKorvaneBitmapPoolEntry::TKorvaneBitmapPoolEntry(TCollection* ACollection)
    : TCollectionItem(ACollection), FBitmap(TKorvaneTextureBitmap::Create()), FSettings(BitmapEntryDefaults())
{
    // Wraps, filters and border colour stay the bitmap's own until a setter writes them.
    ApplyFormats();
    FBitmap->OnChange = [this](TObject* ASender) { NotifyUpdate(ASender); };
    NotifyUpdate(this);
}

TKorvaneBitmapPoolEntry::~TKorvaneBitmapPoolEntry()
{
    if (FBitmap) FBitmap->OnChange = nullptr;
}

void TKorvaneBitmapPoolEntry::BeforeDestruction()
{
    // The bitmap goes first, so no change of it reaches a half-destroyed entry.
    if (FBitmap) FBitmap->OnChange = nullptr;
    FBitmap.reset();
    TCollectionItem::BeforeDestruction();
}

template <class F>
void TKorvaneBitmapPoolEntry::Setup(F&& AWork)
{
    FBitmap->BeginSetup();
    try {
        AWork(*FBitmap);
    } catch (...) {
        FBitmap->EndSetup();
        throw;
    }
    FBitmap->EndSetup();
}

void TKorvaneBitmapPoolEntry::ApplyFormats()
{
    Setup([this](TKorvaneTextureBitmap& b) {
        b.SetKind(FSettings.TextureKind);
        b.SetComponents(FSettings.InternalFormat);
        b.SetFormat(FSettings.Format);
        b.SetDataType(FSettings.DataType);
    });
}

void TKorvaneBitmapPoolEntry::NotifyUpdate(TObject*)
{
    if (TKorvaneBitmapPool* pool = BitmapPoolOf(this); pool && pool->OnUpdate) pool->OnUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetDisplayName(const std::string& Value)
{
    FName = Value;
    TCollectionItem::SetDisplayName(Value);
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetTiling(const TPointF& AValue)
{
    FTiling = AValue;
    NotifyUpdate(this);
}

float TKorvaneBitmapPoolEntry::GetTiling(int AIndex) const
{
    return AIndex == 0 ? FTiling.X : FTiling.Y;
}

void TKorvaneBitmapPoolEntry::SetTiling(int AIndex, float AValue)
{
    (AIndex == 0 ? FTiling.X : FTiling.Y) = AValue;
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetBitmap(const TBitmap* AValue)
{
    // The bitmap's change event raises the pool's update.
    FBitmap->Assign(AValue);
}

namespace {
TTextureDef& TextureDefinition(TCustomDef* ADef)
{
    auto* texture = dynamic_cast<TTextureDef*>(ADef);
    if (!texture) throw EInvalidCast();
    return *texture;
}
} // namespace

void TKorvaneBitmapPoolEntry::LoadFromDefinition(TCustomDef* ADef)
{
    TTextureDef& texture = TextureDefinition(ADef);
    const TSamplerDef& sampler = texture.Sampler();
    // The settings without an event each; the tiling's setter raises the one update.
    SetTextureWrapping(sampler.WrapS, sampler.WrapT, sampler.WrapR);
    SetTextureMinMagFilter(sampler.MinFilter, sampler.MagFilter);
    FBorderColor = sampler.BorderColor;
    Setup([this](TKorvaneTextureBitmap& b) { b.BorderColor = FBorderColor; });
    SetTiling(texture.Tiling);
    // Lent or copied, the instance frees what it owns once the image is copied.
    if (TTextureBitmapInstance picture = texture.GetAssetBitmapInstance(false)) SetBitmap(picture.Bitmap());
}

void TKorvaneBitmapPoolEntry::StoreToDefinition(TCustomDef* ADef) const
{
    TTextureDef& texture = TextureDefinition(ADef);
    texture.Tiling = FTiling;
    texture.IsDynamic = FSettings.IsDynamic;
    texture.IgnoreInArray = FSettings.IgnoreInArray;
    texture.Destination = FSettings.ShaderKind;
    TSamplerDef& sampler = texture.Sampler();
    sampler.TextureKind = FSettings.TextureKind;
    sampler.InternalFormat = FSettings.InternalFormat;
    sampler.Format = FSettings.Format;
    sampler.DataType = FSettings.DataType;
    sampler.WrapS = FSettings.Wrapping[0];
    sampler.WrapT = FSettings.Wrapping[1];
    sampler.WrapR = FSettings.Wrapping[2];
    sampler.MinFilter = FSettings.MinMagFilter[0];
    sampler.MagFilter = FSettings.MinMagFilter[1];
    sampler.BorderColor = FBorderColor;
}

void TKorvaneBitmapPoolEntry::SetTextureKind(TKorvaneTextureKind AValue)
{
    FSettings.TextureKind = AValue;
    ApplyFormats();
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetFormat(TPixelFormatEx AValue)
{
    FSettings.Format = TPixelFormatExHelper::CompatibleFormat(FSettings.InternalFormat, AValue);
    ApplyFormats();
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetInternalFormat(TPixelFormatEx AValue)
{
    FSettings.InternalFormat = AValue;
    FSettings.Format = TPixelFormatExHelper::CompatibleFormat(AValue, FSettings.Format);
    ApplyFormats();
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetDataType(TKorvaneTextureDataType AValue)
{
    FSettings.DataType = AValue;
    ApplyFormats();
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetWrap(int AAxis, TKorvaneTextureWrap AValue)
{
    FSettings.Wrapping[size_t(AAxis)] = AValue;
    Setup([&](TKorvaneTextureBitmap& b) { (AAxis == 0 ? b.WrapS : AAxis == 1 ? b.WrapT : b.WrapR) = AValue; });
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetWrapS(TKorvaneTextureWrap AValue) { SetWrap(0, AValue); }
void TKorvaneBitmapPoolEntry::SetWrapT(TKorvaneTextureWrap AValue) { SetWrap(1, AValue); }
void TKorvaneBitmapPoolEntry::SetWrapR(TKorvaneTextureWrap AValue) { SetWrap(2, AValue); }

void TKorvaneBitmapPoolEntry::SetFilter(int AIndex, TTextureFilter AValue)
{
    FSettings.MinMagFilter[size_t(AIndex)] = AValue;
    Setup([&](TKorvaneTextureBitmap& b) { (AIndex == 0 ? b.MinFilter : b.MagFilter) = AValue; });
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetMinFilter(TTextureFilter AValue) { SetFilter(0, AValue); }
void TKorvaneBitmapPoolEntry::SetMagFilter(TTextureFilter AValue) { SetFilter(1, AValue); }

void TKorvaneBitmapPoolEntry::SetBorderColor(TAlphaColor AValue)
{
    FBorderColor = TAlphaColorF::Create(AValue);
    Setup([this](TKorvaneTextureBitmap& b) { b.BorderColor = FBorderColor; });
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::GetPixelFormat(TPixelFormatEx& AComps, TPixelFormatEx& AFormat,
                                             TKorvaneTextureDataType& ADataType) const
{
    AComps = FSettings.InternalFormat;
    AFormat = FSettings.Format;
    ADataType = FSettings.DataType;
}

bool TKorvaneBitmapPoolEntry::PixelFormatUnchanged(TPixelFormatEx AComps, TPixelFormatEx AFormat,
                                                   TKorvaneTextureDataType ADataType) const
{
    return FBitmap && !FBitmap->IsEmpty() && AComps == FSettings.InternalFormat && AFormat == FSettings.Format &&
           ADataType == FSettings.DataType;
}

void TKorvaneBitmapPoolEntry::StorePixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps,
                                               TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType,
                                               bool AProtectFormatSettings)
{
    FSettings.TextureKind = ATextureKind;
    FSettings.InternalFormat = AComps;
    FSettings.Format = AFormat;
    FSettings.DataType = ADataType;
    FProtectFormatSettings = AProtectFormatSettings;
}

void TKorvaneBitmapPoolEntry::SetPixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps,
                                             TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType,
                                             bool AProtectFormatSettings)
{
    if (PixelFormatUnchanged(AComps, AFormat, ADataType)) return;
    StorePixelFormat(ATextureKind, AComps, AFormat, ADataType, AProtectFormatSettings);
    Setup([&](TKorvaneTextureBitmap& b) {
        b.SetKind(ATextureKind);
        b.ProtectFormatSettings = AProtectFormatSettings;
        b.SetComponents(AComps);
        b.SetFormat(AFormat);
        b.SetDataType(ADataType);
    });
    NotifyUpdate(this);
}

void TKorvaneBitmapPoolEntry::SetPixelFormatNoUpdate(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps,
                                                     TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType,
                                                     bool AProtectFormatSettings)
{
    if (PixelFormatUnchanged(AComps, AFormat, ADataType)) return;
    StorePixelFormat(ATextureKind, AComps, AFormat, ADataType, AProtectFormatSettings);
}

void TKorvaneBitmapPoolEntry::SetBitmapWrapR(TKorvaneTextureWrap AValue, bool AArrayHasR)
{
    const TKorvaneTextureKind kind = FSettings.TextureKind;
    if (kind == TKorvaneTextureKind::Texture3D || kind == TKorvaneTextureKind::ImageTexture3D ||
        (AArrayHasR && kind == TKorvaneTextureKind::Array2D))
        FBitmap->WrapR = AValue;
}

void TKorvaneBitmapPoolEntry::SetTextureWrapping(TKorvaneTextureWrap AWrap)
{
    FSettings.Wrapping = {AWrap, AWrap, AWrap};
    Setup([&](TKorvaneTextureBitmap& b) {
        b.WrapS = AWrap;
        b.WrapT = AWrap;
        SetBitmapWrapR(AWrap, true);
    });
}

void TKorvaneBitmapPoolEntry::SetTextureWrapping(TKorvaneTextureWrap AWrapS, TKorvaneTextureWrap AWrapT,
                                                 TKorvaneTextureWrap AWrapR)
{
    FSettings.Wrapping = {AWrapS, AWrapT, AWrapR};
    Setup([&](TKorvaneTextureBitmap& b) {
        b.WrapS = AWrapS;
        b.WrapT = AWrapT;
        SetBitmapWrapR(AWrapR, false);
    });
}

void TKorvaneBitmapPoolEntry::SetTextureMinMagFilter(TTextureFilter AMin, TTextureFilter AMag)
{
    FSettings.MinMagFilter = {AMin, AMag};
    Setup([&](TKorvaneTextureBitmap& b) {
        b.MinFilter = AMin;
        b.MagFilter = AMag;
    });
}

void TKorvaneBitmapPoolEntry::SetExtendedProperties(TKorvaneTextureWrap AWrapS, TKorvaneTextureWrap AWrapT,
                                                    TKorvaneTextureWrap AWrapR, TTextureFilter AMin,
                                                    TTextureFilter AMag, TAlphaColor ABorder, TTextureStyles AStyles)
{
    FSettings.Wrapping = {AWrapS, AWrapT, AWrapR};
    FSettings.MinMagFilter = {AMin, AMag};
    FBorderColor = TAlphaColorF::Create(ABorder);
    Setup([&](TKorvaneTextureBitmap& b) {
        b.WrapS = AWrapS;
        b.WrapT = AWrapT;
        SetBitmapWrapR(AWrapR, false);
        b.MinFilter = AMin;
        b.MagFilter = AMag;
        b.BorderColor = FBorderColor;
        b.Style = AStyles;
    });
}

void TKorvaneBitmapPoolEntry::AssignTo(TPersistent* Dest) const
{
    if (auto* texture = dynamic_cast<TKorvaneTexturePoolEntry*>(Dest)) {
        texture->FName = FName;
        texture->FTiling = FTiling;
        texture->FTexture = FBitmap ? FBitmap->Texture() : nullptr;
        texture->FSettings = FSettings;
        texture->FBorderColor = FBorderColor;
        return;
    }
    if (auto* entry = dynamic_cast<TKorvaneBitmapPoolEntry*>(Dest)) {
        entry->FName = FName;
        entry->FTiling = FTiling;
        entry->FBitmap->Assign(FBitmap.get());
        entry->FSettings = FSettings;
        entry->FBorderColor = FBorderColor;
        entry->FProtectFormatSettings = FProtectFormatSettings;
        return;
    }
    TCollectionItem::AssignTo(Dest);
}

TKorvaneBitmapPool::TKorvaneBitmapPool(TPersistent* AOwner, TClass AItemClass)
    : TOwnedCollection(AOwner, CheckedItemClass(AItemClass, TKorvaneBitmapPoolEntry::StaticClass()))
{
}

} // namespace korvane
