#pragma once
// The shared types of the material system: the enumerations that materials and
// definitions share, the texture and bitmap pools through which a material gets
// its textures, and the per-draw uniform block "ShaderData".
//
// The uniform block of the default material family.
// The record is a GPU layout shared with the generated GLSL: the declaration
// node TKorvaneGLSLUBOShaderData writes the same members in the same order,
// and std140 places them exactly at the offsets below. Change both together.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.Types.h"
#include "Korvane.DefTypes.Material.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Enumerations shared by materials and material definitions

// TKorvaneShadingModel and TKorvaneTonemapping are the material definitions'
// own (Korvane.DefTypes.Material.h): one definition, so that a unit may use
// both materials and their definitions.
enum class TKorvaneShadowMethod : uint8_t { ShadowMapping, VarianceShadowMapping };

// The pool-entry name of each texture channel, indexed by the channel's
// ordinal (Diffuse, Ambient, Emissive, Specular, Normal, Opacity, Reflection,
// Refraction, Environment, Lightmap, Displacement, Metalness, Roughness, AO,
// HeightMap, POM, Depth, UserSpecific).
inline constexpr std::array<const char*, 18> KorvaneTextureChannelNames = {
    "Texture0",          "AmbientTexture",         "EmissiveTexture",         "SpecularMapTexture",
    "NormalMapTexture",  "OpacityTexture",         "ReflectionTexture",       "RefractionTexture",
    "EnvironmentTexture", "LightMap",              "DisplacementMapTexture",  "MetalnessTexture",
    "RoughnessTexture",  "AmbientOcclusionTexture", "HeightMap",              "POMTexture",
    "DepthTexture",      "UserTexture"};

// ---------------------------------------------------------------------------
// Texture and bitmap pools
//
// A material source owns a bitmap pool: named texture bitmaps with the sampling
// settings their GPU textures are to have. A material owns a texture pool
// derived from it: each entry references the GPU texture of one bitmap entry
// and carries a copy of its settings. The texture pool is never edited by
// hand; every change of a bitmap entry that matters for the GPU raises the
// bitmap pool's OnUpdate, and its listener rebuilds the texture pool.

// The sampling settings both kinds of entry carry, copied together.
struct TKorvanePoolEntrySettings {
    bool IsDynamic = false;     // bound at draw time by a render pass, not by the material
    bool IgnoreInArray = false; // keeps a sampler of its own when the pool is declared as an array
    TContextShaderKind ShaderKind = TContextShaderKind::PixelShader;
    TKorvaneTextureKind TextureKind = TKorvaneTextureKind::Texture2D;
    TPixelFormatEx InternalFormat = TPixelFormatEx::None;
    TPixelFormatEx Format = TPixelFormatEx::None;
    TKorvaneTextureDataType DataType = TKorvaneTextureDataType::dtByte;
    std::array<TKorvaneTextureWrap, 3> Wrapping{TKorvaneTextureWrap::Clamp, TKorvaneTextureWrap::Clamp,
                                                TKorvaneTextureWrap::Clamp}; // S, T, R
    std::array<TTextureFilter, 2> MinMagFilter{TTextureFilter::Linear, TTextureFilter::Linear};
};

// One GPU texture of a material's texture pool.
class TKorvaneTexturePoolEntry : public TCollectionItem {
    KORVANE_CLASS(TKorvaneTexturePoolEntry, TCollectionItem)

    explicit TKorvaneTexturePoolEntry(TCollection* ACollection);

    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& Value) override { FName = Value; }

    const TPointF& Tiling() const { return FTiling; }
    void SetTiling(const TPointF& AValue) { FTiling = AValue; }
    // The GPU texture; it belongs to the bitmap it came from.
    TTexture* Texture() const { return FTexture; }
    void SetTexture(TTexture* AValue) { FTexture = AValue; }
    bool IsDynamic() const { return FSettings.IsDynamic; }
    void SetIsDynamic(bool AValue) { FSettings.IsDynamic = AValue; }
    bool IgnoreInArray() const { return FSettings.IgnoreInArray; }
    void SetIgnoreInArray(bool AValue) { FSettings.IgnoreInArray = AValue; }
    TContextShaderKind ShaderKind() const { return FSettings.ShaderKind; }
    void SetShaderKind(TContextShaderKind AValue) { FSettings.ShaderKind = AValue; }
    TKorvaneTextureKind TextureKind() const { return FSettings.TextureKind; }
    const TKorvanePoolEntrySettings& Settings() const { return FSettings; }
    virtual TAlphaColor BorderColor() const { return FBorderColor.ToAlphaColor(); }
    virtual void SetBorderColor(TAlphaColor AValue) { FBorderColor = TAlphaColorF::Create(AValue); }
    const TAlphaColorF& BorderColorF() const { return FBorderColor; }

    // Stores the four values; nothing else.
    virtual void SetPixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                                TKorvaneTextureDataType ADataType);

protected:
    // To another texture entry: name, tiling, the texture reference (shared),
    // the settings and the border colour.
    void AssignTo(TPersistent* Dest) const override;

private:
    friend class TKorvaneBitmapPoolEntry;
    std::string FName;
    TPointF FTiling{1, 1};
    TTexture* FTexture = nullptr;
    TKorvanePoolEntrySettings FSettings;
    TAlphaColorF FBorderColor{0, 0, 0, 0};
};

// A material's GPU textures, rebuilt from its source's bitmap pool.
class TKorvaneTexturePool : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneTexturePool, TOwnedCollection)

    // AItemClass descends from TKorvaneTexturePoolEntry.
    TKorvaneTexturePool(TPersistent* AOwner, TClass AItemClass);

    TKorvaneTexturePoolEntry* Items(int AIndex) const
    {
        return static_cast<TKorvaneTexturePoolEntry*>(TCollection::Items(AIndex));
    }
    TKorvaneTexturePoolEntry* Add() { return static_cast<TKorvaneTexturePoolEntry*>(TCollection::Add()); }
    // When set, the shaders declare the ordinary entries as one sampler array "PoolTexture".
    bool DeclareAsArray() const { return FDeclareAsArray; }
    void SetDeclareAsArray(bool AValue) { FDeclareAsArray = AValue; }
    // The position of the first entry holding ATexture (identity); -1 when none.
    int IndexOfTexture(const TTexture* ATexture) const;

private:
    bool FDeclareAsArray = false;
};

// One named texture bitmap of a material source, with the settings of its GPU texture.
class TKorvaneBitmapPoolEntry : public TCollectionItem {
    KORVANE_CLASS(TKorvaneBitmapPoolEntry, TCollectionItem)

    // Appends the entry to ACollection with a new, empty texture bitmap; in a
    // bitmap pool this raises OnUpdate once (the name is still empty then).
    explicit TKorvaneBitmapPoolEntry(TCollection* ACollection);
    ~TKorvaneBitmapPoolEntry() override;

    std::string DisplayName() const override { return FName; }
    // Raises the pool's OnUpdate.
    void SetDisplayName(const std::string& Value) override;
    std::string Name() const { return DisplayName(); }
    void SetName(const std::string& AValue) { SetDisplayName(AValue); }

    const TPointF& Tiling() const { return FTiling; }
    virtual void SetTiling(const TPointF& AValue);
    // Index 0 is X, 1 is Y.
    virtual float GetTiling(int AIndex) const;
    virtual void SetTiling(int AIndex, float AValue);
    float TilingX() const { return GetTiling(0); }
    float TilingY() const { return GetTiling(1); }
    void SetTilingX(float AValue) { SetTiling(0, AValue); }
    void SetTilingY(float AValue) { SetTiling(1, AValue); }

    // The entry's own bitmap (owned).
    TKorvaneTextureBitmap* Bitmap() const { return FBitmap.get(); }
    // Copies the image of AValue into the entry's own bitmap.
    virtual void SetBitmap(const TBitmap* AValue);

    // Plain fields: changing them raises no event.
    bool IsDynamic() const { return FSettings.IsDynamic; }
    void SetIsDynamic(bool AValue) { FSettings.IsDynamic = AValue; }
    bool IgnoreInArray() const { return FSettings.IgnoreInArray; }
    void SetIgnoreInArray(bool AValue) { FSettings.IgnoreInArray = AValue; }
    TContextShaderKind ShaderKind() const { return FSettings.ShaderKind; }
    void SetShaderKind(TContextShaderKind AValue) { FSettings.ShaderKind = AValue; }
    bool ProtectFormatSettings() const { return FProtectFormatSettings; }
    void SetProtectFormatSettings(bool AValue) { FProtectFormatSettings = AValue; }

    // Format setters apply all four format settings to the bitmap, then raise OnUpdate.
    virtual TKorvaneTextureKind TextureKind() const { return FSettings.TextureKind; }
    virtual void SetTextureKind(TKorvaneTextureKind AValue);
    virtual TPixelFormatEx Format() const { return FSettings.Format; }
    // Stores the format compatible with the internal format.
    virtual void SetFormat(TPixelFormatEx AValue);
    virtual TPixelFormatEx InternalFormat() const { return FSettings.InternalFormat; }
    // Also makes the stored format compatible with the new internal format.
    virtual void SetInternalFormat(TPixelFormatEx AValue);
    virtual TKorvaneTextureDataType DataType() const { return FSettings.DataType; }
    virtual void SetDataType(TKorvaneTextureDataType AValue);

    // Wrap, filter and border setters write the bitmap's setting of the same name, then raise OnUpdate.
    virtual TKorvaneTextureWrap WrapS() const { return FSettings.Wrapping[0]; }
    virtual void SetWrapS(TKorvaneTextureWrap AValue);
    virtual TKorvaneTextureWrap WrapT() const { return FSettings.Wrapping[1]; }
    virtual void SetWrapT(TKorvaneTextureWrap AValue);
    virtual TKorvaneTextureWrap WrapR() const { return FSettings.Wrapping[2]; }
    virtual void SetWrapR(TKorvaneTextureWrap AValue);
    virtual TTextureFilter MinFilter() const { return FSettings.MinMagFilter[0]; }
    virtual void SetMinFilter(TTextureFilter AValue);
    virtual TTextureFilter MagFilter() const { return FSettings.MinMagFilter[1]; }
    virtual void SetMagFilter(TTextureFilter AValue);
    virtual TAlphaColor BorderColor() const { return FBorderColor.ToAlphaColor(); }
    virtual void SetBorderColor(TAlphaColor AValue);
    const TAlphaColorF& BorderColorF() const { return FBorderColor; }
    const TKorvanePoolEntrySettings& Settings() const { return FSettings; }

    // Raises the pool's OnUpdate with this entry; ASender is ignored.
    virtual void NotifyUpdate(TObject* ASender);

    // From a texture definition: the tiling, the wraps, filters and border
    // colour of its sampler and, when it has an asset, a copy of the asset's
    // picture (the entry keeps its own bitmap). The name, the formats and the
    // flags are the source's to set when it adds the entry.
    virtual void LoadFromDefinition(TCustomDef* ADef);
    // Into a texture definition: the tiling, the flags, the shader stage and
    // every sampler setting. Not the name nor the image, which the source
    // stores as the definition's channel and asset. Both raise EInvalidCast
    // for anything but a texture definition, before anything changes.
    virtual void StoreToDefinition(TCustomDef* ADef) const;

    virtual void GetPixelFormat(TPixelFormatEx& AComps, TPixelFormatEx& AFormat,
                                TKorvaneTextureDataType& ADataType) const;
    // Configures the entry and its bitmap, then raises OnUpdate; nothing at all
    // when the bitmap holds an image and the three formats are those stored.
    virtual void SetPixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                                TKorvaneTextureDataType ADataType, bool AProtectFormatSettings);
    // The same early return, then only stores the five values.
    virtual void SetPixelFormatNoUpdate(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps,
                                        TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType,
                                        bool AProtectFormatSettings);

    // Bulk setters: entry and bitmap in one setup bracket, no event. The
    // bitmap's R wrap is written only for kinds that have a third axis
    // (the one-wrap form also counts Array2D among them).
    void SetTextureWrapping(TKorvaneTextureWrap AWrap);
    void SetTextureWrapping(TKorvaneTextureWrap AWrapS, TKorvaneTextureWrap AWrapT, TKorvaneTextureWrap AWrapR);
    void SetTextureMinMagFilter(TTextureFilter AMin, TTextureFilter AMag);
    void SetExtendedProperties(TKorvaneTextureWrap AWrapS, TKorvaneTextureWrap AWrapT, TKorvaneTextureWrap AWrapR,
                               TTextureFilter AMin, TTextureFilter AMag, TAlphaColor ABorder, TTextureStyles AStyles);

protected:
    // To a texture entry (the bitmap's GPU texture, made when needed) or to
    // another bitmap entry (the image copied); no event of its own.
    void AssignTo(TPersistent* Dest) const override;
    void BeforeDestruction() override;

private:
    // Runs AWork on the bitmap inside one setup bracket.
    template <class F>
    void Setup(F&& AWork);
    // Kind, components, format and data type of the entry onto the bitmap.
    void ApplyFormats();
    void SetWrap(int AAxis, TKorvaneTextureWrap AValue);
    void SetFilter(int AIndex, TTextureFilter AValue);
    // The bitmap's R wrap, when the entry's kind has a third axis.
    void SetBitmapWrapR(TKorvaneTextureWrap AValue, bool AArrayHasR);
    // Whether SetPixelFormat has nothing to do.
    bool PixelFormatUnchanged(TPixelFormatEx AComps, TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType) const;
    void StorePixelFormat(TKorvaneTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                          TKorvaneTextureDataType ADataType, bool AProtectFormatSettings);

    std::string FName;
    TPointF FTiling{1, 1};
    TOwned<TKorvaneTextureBitmap> FBitmap;
    TKorvanePoolEntrySettings FSettings;
    TAlphaColorF FBorderColor{0, 0, 0, 0};
    bool FProtectFormatSettings = false;
};

// A material source's named bitmaps. It holds at most 16 entries; the source
// enforces the limit when it adds one.
class TKorvaneBitmapPool : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneBitmapPool, TOwnedCollection)

    // AItemClass descends from TKorvaneBitmapPoolEntry.
    TKorvaneBitmapPool(TPersistent* AOwner, TClass AItemClass);

    TKorvaneBitmapPoolEntry* Items(int AIndex) const
    {
        return static_cast<TKorvaneBitmapPoolEntry*>(TCollection::Items(AIndex));
    }
    TKorvaneBitmapPoolEntry* Add() { return static_cast<TKorvaneBitmapPoolEntry*>(TCollection::Add()); }
    bool DeclareAsArray() const { return FDeclareAsArray; }
    void SetDeclareAsArray(bool AValue) { FDeclareAsArray = AValue; }

    // Called with the changed entry as sender.
    TEvent<TObject*> OnUpdate;

private:
    bool FDeclareAsArray = false;
};

// ---------------------------------------------------------------------------
// The uniform block "ShaderData"

// The pass data of the block (GLSL struct "PassData", 672 bytes).
struct TKorvaneShaderPassData {
    TMatrix3D _ShadowMapMatrix[8];   // texture matrix of shadow map 0..7
    TMatrix3D _ReflectTextureMatrix; // reflection pass (or the bias matrix while environment mapping)
    TMatrix3D _RefractTextureMatrix; // refraction pass
    float _ReflectionPower;
    float _RefractionPower;
    float _TranslucentDistance;
    float _NormalIntensity; // negated while inverse normal mapping is on
    int32_t _ParallaxLevels;
    float _PBRMetallic;
    float _PBRRoughness;
    float _PBRAO;
};

// Bit values of TKorvaneShaderData::Options.
inline constexpr int32_t ShaderOptionClipPlane = 1;   // clip against ClippingPlane
inline constexpr int32_t ShaderOptionTranslucent = 2; // the context renders translucent geometry

// The uniform block "ShaderData" (std140, 6352 bytes).
struct TKorvaneShaderData {
    TMatrix3D ModelViewProjectionMatrix;
    TMatrix3D ViewMatrix;
    TMatrix3D ProjectionMatrix;
    TVector3D TimeInfo; // x start, y current frame, z previous frame (seconds), w stopwatch seconds
    TVector3D EyePos;
    TPoint3D ViewDir;     // a vec3: ShadingModel packs into the 4 bytes after it
    int32_t ShadingModel; // TKorvaneShadingModel ordinal
    TKorvaneShaderMaterialData Material;
    TKorvaneShaderLight Lights[32];
    int32_t LightsCount;
    int32_t Options;
    float ShadingIntensity;
    float Brightness;
    int32_t FogMode; // 1 enabled, 2 linear, 4 exponential, 8 squared exponential
    float FogDensity;
    float FogStart;
    float FogEnd;
    TAlphaColorF FogColor;
    TVector3D FrustumMin;
    TVector3D FrustumMax;
    TVector3D SceneMin;
    TVector3D SceneMax;
    TVector3D BoundaryMin;
    TVector3D BoundaryMax;
    TVector3D ViewSize; // width, height, near, far
    TVector3D ClippingPlane;
    TKorvaneShaderPassData PassData;
};

static_assert(sizeof(TKorvaneShaderLight) == 144, "the light record is a 144-byte std140 struct");
static_assert(sizeof(TKorvaneShaderMaterialData) == 656, "the material block is a 656-byte std140 struct");
static_assert(sizeof(TKorvaneShaderPassData) == 672, "the pass data is a 672-byte std140 struct");
static_assert(sizeof(TKorvaneShaderData) == 6352, "ShaderData is a 6352-byte std140 block");
static_assert(offsetof(TKorvaneShaderData, ViewMatrix) == 64);
static_assert(offsetof(TKorvaneShaderData, ProjectionMatrix) == 128);
static_assert(offsetof(TKorvaneShaderData, TimeInfo) == 192);
static_assert(offsetof(TKorvaneShaderData, EyePos) == 208);
static_assert(offsetof(TKorvaneShaderData, ViewDir) == 224);
static_assert(offsetof(TKorvaneShaderData, ShadingModel) == 236);
static_assert(offsetof(TKorvaneShaderData, Material) == 240);
static_assert(offsetof(TKorvaneShaderData, Lights) == 896);
static_assert(offsetof(TKorvaneShaderData, LightsCount) == 5504);
static_assert(offsetof(TKorvaneShaderData, Options) == 5508);
static_assert(offsetof(TKorvaneShaderData, ShadingIntensity) == 5512);
static_assert(offsetof(TKorvaneShaderData, Brightness) == 5516);
static_assert(offsetof(TKorvaneShaderData, FogMode) == 5520);
static_assert(offsetof(TKorvaneShaderData, FogDensity) == 5524);
static_assert(offsetof(TKorvaneShaderData, FogStart) == 5528);
static_assert(offsetof(TKorvaneShaderData, FogEnd) == 5532);
static_assert(offsetof(TKorvaneShaderData, FogColor) == 5536);
static_assert(offsetof(TKorvaneShaderData, FrustumMin) == 5552);
static_assert(offsetof(TKorvaneShaderData, FrustumMax) == 5568);
static_assert(offsetof(TKorvaneShaderData, SceneMin) == 5584);
static_assert(offsetof(TKorvaneShaderData, SceneMax) == 5600);
static_assert(offsetof(TKorvaneShaderData, BoundaryMin) == 5616);
static_assert(offsetof(TKorvaneShaderData, BoundaryMax) == 5632);
static_assert(offsetof(TKorvaneShaderData, ViewSize) == 5648);
static_assert(offsetof(TKorvaneShaderData, ClippingPlane) == 5664);
static_assert(offsetof(TKorvaneShaderData, PassData) == 5680);
static_assert(offsetof(TKorvaneShaderPassData, _ReflectTextureMatrix) == 512);
static_assert(offsetof(TKorvaneShaderPassData, _RefractTextureMatrix) == 576);
static_assert(offsetof(TKorvaneShaderPassData, _ReflectionPower) == 640);
static_assert(offsetof(TKorvaneShaderPassData, _RefractionPower) == 644);
static_assert(offsetof(TKorvaneShaderPassData, _TranslucentDistance) == 648);
static_assert(offsetof(TKorvaneShaderPassData, _NormalIntensity) == 652);
static_assert(offsetof(TKorvaneShaderPassData, _ParallaxLevels) == 656);
static_assert(offsetof(TKorvaneShaderPassData, _PBRMetallic) == 660);
static_assert(offsetof(TKorvaneShaderPassData, _PBRRoughness) == 664);
static_assert(offsetof(TKorvaneShaderPassData, _PBRAO) == 668);

// The block before the first apply: zeroed, then the shading, fog, view-size
// and material defaults. The pass data stays zero.
TKorvaneShaderData InitShaderData();

} // namespace korvane
