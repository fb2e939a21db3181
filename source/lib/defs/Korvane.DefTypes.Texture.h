#pragma once
// Texture slots of material definitions: the channel a texture feeds, its
// texture asset, its sampling parameters (TSamplerDef), the flips and tiling of
// its image, the shader stage it is bound to and named extension bags.
//
// While a model is read, a texture finds or creates its asset in the model's
// asset package, or as a stand-alone picture file next to the model file. The
// asset outlives the texture: the package or the model keeps it.

#include <cstdint>
#include <memory>
#include <string>

#include "Korvane.AssetsManager.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.DefTypes.h"
#include "Platform.Types3D.h"

namespace korvane {

enum class TColorChannelDef : uint8_t {
    Diffuse, Ambient, Emissive, Specular, Normal, Opacity, Reflection, Refraction, Environment, Lightmap,
    Displacement, Metalness, Roughness, AO, HeightMap, POM, Depth, UserSpecific
};

class TSamplerDef : public TCustomDef {
    KORVANE_CLASS(TSamplerDef, TCustomDef)

    TSamplerDef() = default;

    TKorvaneTextureKind TextureKind = TKorvaneTextureKind::Texture2D;
    TPixelFormatEx InternalFormat = TPixelFormatEx::RGBA8;
    TPixelFormatEx Format = TPixelFormatEx::BGRA;
    TKorvaneTextureDataType DataType = TKorvaneTextureDataType::dtUnsignedByte;
    TAlphaColorF BorderColor{0, 0, 0, 0};
    TTextureFilter MinFilter = TTextureFilter::Linear;
    TTextureFilter MagFilter = TTextureFilter::Linear;
    TKorvaneTextureWrap WrapS = TKorvaneTextureWrap::ClampToEdge;
    TKorvaneTextureWrap WrapT = TKorvaneTextureWrap::ClampToEdge;
    TKorvaneTextureWrap WrapR = TKorvaneTextureWrap::ClampToEdge;

    // "Type", "Id", "Kind", "InternalFormat", "Format", "DataType" (ordinals),
    // "BorderColor", "MinFilter", "MagFilter", "WrapS", "WrapT", "WrapR".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Names compare ignoring letter case; an unknown kind gives Texture2D, an
    // unknown filter Linear, an unknown wrap ClampToEdge. The three ordinals
    // default to RGBA8, BGRA and dtUnsignedByte; one outside its enumeration raises.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TSamplerDef); }
};

// The bitmap a texture hands out: either the asset's own bitmap, lent, or a
// copy that the holder owns and frees with it. Move-only.
class TTextureBitmapInstance {
public:
    TTextureBitmapInstance() = default;
    static TTextureBitmapInstance Borrowed(TBitmap* ABitmap);
    static TTextureBitmapInstance Owned(TOwned<TBitmap> ABitmap);

    TBitmap* Bitmap() const { return FOwned ? FOwned.get() : FBorrowed; }
    bool IsOwned() const { return FOwned != nullptr; }
    explicit operator bool() const { return Bitmap() != nullptr; }
    // Hands the owned copy over; a lent bitmap raises EInvalidOperation.
    TOwned<TBitmap> Release();

private:
    TBitmap* FBorrowed = nullptr;
    TOwned<TBitmap> FOwned;
};

class TMaterialDef;

class TTextureDef : public TCustomDef {
    KORVANE_CLASS(TTextureDef, TCustomDef)

    // AIsAssetOwner is stored after the asset, so the constructor never marks
    // AAsset stand-alone: a caller that made the asset for this slot does.
    TTextureDef(TMaterialDef* AMaterial, TColorChannelDef AChannel, TKorvaneTextureAsset* AAsset, bool AIsAssetOwner);
    ~TTextureDef() override;

    TMaterialDef* Material() const { return FMaterial; }
    TColorChannelDef Channel() const { return FChannel; }
    void SetChannel(TColorChannelDef AValue) { FChannel = AValue; }
    TSamplerDef& Sampler() const { return *FSampler; }
    // The flips the image is to have.
    TTextureFlippings Flipping() const { return FFlipping; }
    void SetFlipping(TTextureFlippings AValue) { FFlipping = AValue; }
    // The flips already applied to the asset's own bitmap.
    TTextureFlippings FlipState() const { return FFlipState; }
    TPointF Tiling{1, 1};
    bool IsDynamic = false;
    bool IgnoreInArray = false;
    TContextShaderKind Destination = TContextShaderKind::PixelShader;
    bool IsAssetOwner() const { return FIsAssetOwner; }
    void SetIsAssetOwner(bool AValue) { FIsAssetOwner = AValue; }
    TKorvaneTextureAsset* AssetRef() const { return FAssetRef; }
    // Refers to AValue (not owned). With a model, an asset made for this slot
    // (IsAssetOwner) is marked stand-alone and the model registers the asset.
    void SetAssetRef(TKorvaneTextureAsset* AValue);
    // Refers to AAsset, made for this slot: the model's asset list takes it
    // over when the material has a model that registers assets, otherwise the
    // texture frees it.
    void AdoptAsset(TOwned<TKorvaneTextureAsset> AAsset);
    // The extension list; nullptr until the first extension is added.
    TExtensionDefList* Extensions() const { return FExtensions.get(); }

    TKorvaneTextureWrap WrapS() const { return FSampler->WrapS; }
    void SetWrapS(TKorvaneTextureWrap AValue) { FSampler->WrapS = AValue; }
    TKorvaneTextureWrap WrapT() const { return FSampler->WrapT; }
    void SetWrapT(TKorvaneTextureWrap AValue) { FSampler->WrapT = AValue; }
    TKorvaneTextureWrap WrapR() const { return FSampler->WrapR; }
    void SetWrapR(TKorvaneTextureWrap AValue) { FSampler->WrapR = AValue; }

    TExtensionDef* AddExtension(const std::string& AId);
    // The first extension with that Id, or nullptr.
    TExtensionDef* GetExtension(std::string_view AId) const;
    // Frees the first extension with that Id.
    void RemoveExtension(std::string_view AId);
    void ClearExtensions();

    // The bitmap of the asset, empty without an asset. An asset whose bitmap is
    // empty raises "failed to request bitmap instance of texture asset - texture
    // was not loaded physically yet". With ADoClone, or for a cached stand-alone
    // asset, a new texture bitmap copying the picture that the caller owns.
    // Otherwise the asset's own bitmap, lent: it takes the sampler's wrap modes
    // and is flipped (or flipped back) so that it carries exactly Flipping.
    TTextureBitmapInstance GetAssetBitmapInstance(bool ADoClone);

    // The base size plus the extension list with its extensions.
    int64_t GetSize() const override;
    // The package of the material's model (nullptr without one); without a
    // material raises "failed to get package - material of TTextureDef not assigned".
    TObject* GetAssetsPackage() const override;
    // "Type", "Id", "Channel", "Flipping", "Tiling", "IsDynamic", "IgnoreInArray",
    // "Destination", "Sampler", "Asset" (null without asset), "Extensions" (when the list exists).
    std::unique_ptr<TJSONObject> ToJSON() const override;
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TTextureDef); }

private:
    TModelDef* Model() const;
    // Finds or makes the asset described by AAsset (see the .cpp).
    void ReadAsset(const TJSONObject& AAsset);
    void ReadPackageAsset(TKorvaneAssetsPackage& APackage, const TGUID& AId, const TJSONObject& AAsset);
    void ReadStandaloneAsset(const TJSONObject& AAsset);

    TTextureFlippings FFlipState;
    TMaterialDef* FMaterial;
    TColorChannelDef FChannel;
    TOwned<TSamplerDef> FSampler;
    bool FIsAssetOwner = false;
    TKorvaneTextureAsset* FAssetRef = nullptr;
    // A stand-alone asset that no model took over: the texture frees it.
    TOwned<TKorvaneTextureAsset> FOwnedAsset;
    TTextureFlippings FFlipping{TTextureFlipping::Vertical};
    std::unique_ptr<TExtensionDefList> FExtensions;
};

} // namespace korvane
