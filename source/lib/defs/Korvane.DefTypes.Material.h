#pragma once
// Material definitions: a material's kind and shading model, its colours and
// factors, its textures, optional shader sources, references to material
// behaviours, named extension bags and, for layered materials, sub-materials.
// Material sources store themselves into a definition and load from it; a
// model keeps its materials in a table by Id, and meshes refer to them by Id.
//
// Ownership: a material that registered with its model (it has a model and an
// Id when made or read) belongs to the model's table. The lists of a material
// own their items, and the sub-material list owns the sub-materials that no
// model holds. A sub-material freed by its model leaves its parent's list.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Korvane.Context.Types.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.DefTypes.Texture.h"
#include "Korvane.DefTypes.h"

namespace korvane {

enum class TMaterialDefKind : uint8_t {
    mkDefault, mkColor, mkLambert, mkPhong, mkBlinnPhong, mkNormalMap, mkBumpMap, mkLayered, mkVertexColor, mkCustom,
    mkPBR
};
enum class TKorvaneShadingModel : uint8_t { smLambert, smPhong, smBlinnPhong, smPBR };
KORVANE_ENUM_NAMES(TKorvaneShadingModel, "smLambert", "smPhong", "smBlinnPhong", "smPBR");
enum class TKorvaneTonemapping : uint8_t {
    tmNone, tmExposure, tmNarkowicz, tmHill, tmHillBoost, tmReinhard, tmLumaBasedReinhard,
    tmWhitePreservingLumaBasedReinhard, tmRomBinDaHouse, tmFilmic, tmUncharted2
};
enum class TShaderLanguage : uint8_t { GLSL, HLSL, MSL };

// A shader source of a material.
class TShaderDef : public TCustomDef {
    KORVANE_CLASS(TShaderDef, TCustomDef)

    TShaderDef() = default;

    TContextShaderKindEx Kind = TContextShaderKindEx::VertexShader;
    TShaderLanguage Language = TShaderLanguage::GLSL;
    std::vector<std::string> SourceCode;
    // The text split into lines at CR, LF and CR LF.
    void SetSourceText(std::string_view AText);
    // Every line followed by CR LF.
    std::string SourceText() const;

    // "Type", "Id", "Kind" (not for the two tessellation kinds), "Language", "SourceCode".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Kind and language names compare ignoring case (unknown ones change
    // nothing); a missing "SourceCode" empties the source.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TShaderDef); }
};

// A reference to another definition: its Id is the Id of the definition
// referred to; Reference is not owned.
template <class T>
class TRefDef : public TCustomDef {
public:
    T* Reference() const { return FReference; }
    void SetReference(T* AValue) { FReference = AValue; }

private:
    T* FReference = nullptr;
};

class TBehaviourRefDef : public TRefDef<TBehaviourDef> {
    KORVANE_CLASS(TBehaviourRefDef, TCustomDef)

    TBehaviourRefDef() = default;

    std::string DisplayName;

    // "Type", "Id", "Name", then "Reference" (the behaviour's Id) when there is one.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // "Name"; the behaviour is looked up in the model by the reference's Id, and
    // one not read yet is left to the model's late resolution.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;
    // Without a reference, looks the behaviour up in the model; always true.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TBehaviourRefDef); }
};

class TMaterialRefDef : public TRefDef<TMaterialDef> {
    KORVANE_CLASS(TMaterialRefDef, TCustomDef)

    TMaterialRefDef() = default;

    // "Type", "Id", then "Reference" (the material's Id) when there is a reference.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Without a reference, looks the material up in the model by the Id; always true.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMaterialRefDef); }
};

class TMaterialDef : public TCustomDef {
    KORVANE_CLASS(TMaterialDef, TCustomDef)

    // With a model and an Id the material registers with the model, whose table owns it from then on.
    explicit TMaterialDef(TModelDef* AModel = nullptr, const std::string& AId = {});
    ~TMaterialDef() override;

    TModelDef* Model() const { return FModel; }
    // Whether the model's table holds (and owns) the material.
    bool RegisteredWithModel() const { return FRegistered; }
    // The layered material this one is a sub-material of, or nullptr.
    TMaterialDef* ParentMaterial() const { return FParentMaterial; }

    // The qualified class name of the material source that stored itself here.
    std::string TypeName;
    TMaterialDefKind Kind = TMaterialDefKind::mkDefault;
    TKorvaneShadingModel ShadingModel = TKorvaneShadingModel::smLambert;
    bool UseTexturing = true;
    bool UseTexture0 = true;
    bool UseLighting = true;
    bool UseVertexColor = false;
    bool UseSpecular = false;
    TAlphaColorF Diffuse{0.75f, 0.75f, 0.75f, 1};
    TAlphaColorF Ambient{0.35f, 0.35f, 0.35f, 1};
    TAlphaColorF Emissive{0, 0, 0, 1};
    TAlphaColorF Specular{0.15f, 0.15f, 0.15f, 1};
    float SpecPow = 0.5f;
    float Brightness = 1;
    TAlphaColorF ReflectionColor{1, 1, 1, 1};
    float ReflectionPower = 0;
    bool UseReflection = false;
    TAlphaColorF RefractionColor{1, 1, 1, 1};
    float RefractionPower = 0;
    bool UseRefraction = false;
    float Metallic = 1;
    float Roughness = 1;
    float AO = 1;
    bool UseClipping = false;
    TAlphaColorF Clipping{0, 0, 0, 0};
    bool UseAlphaCutoff = false;
    float AlphaCutoff = 0;
    bool ParallaxOcclusionMapping = false;
    int32_t ParallaxLevels = 0;
    float NormalIntensity = 0;
    TKorvaneTonemapping Tonemapping = TKorvaneTonemapping::tmNone;
    float TonemappingExposure = 0;
    bool UseOpacity = false;
    float Opacity = 1;
    bool DoubleSided = false;

    // The lists; nullptr until their first item.
    const std::vector<TOwned<TTextureDef>>* Textures() const { return OptionalList(FTextures); }
    const std::vector<TOwned<TShaderDef>>* Shaders() const { return OptionalList(FShaders); }
    const std::vector<TOwned<TBehaviourRefDef>>* BehaviourRefs() const { return OptionalList(FBehaviourRefs); }
    TExtensionDefList* Extensions() const { return FExtensions.get(); }
    const std::vector<TMaterialDef*>* LayeredMaterials() const { return OptionalList(FMaterials); }

    // Appends the texture (the material owns it); its Material is not changed.
    TTextureDef* AddTexture(TOwned<TTextureDef> ATexDef);
    TTextureDef* AddTexture(TColorChannelDef AChannel, TKorvaneTextureAsset* AAsset, bool AIsAssetOwner);
    // A texture owning AAsset, made for it (see TTextureDef::AdoptAsset).
    TTextureDef* AddTexture(TColorChannelDef AChannel, TOwned<TKorvaneTextureAsset> AAsset);
    // The first texture of the channel, or nullptr.
    TTextureDef* GetTexture(TColorChannelDef AChannel) const;
    bool TextureChannelExists(TColorChannelDef AChannel) const { return GetTexture(AChannel) != nullptr; }
    void ClearTextures();

    TShaderDef* AddShader(const std::string& AId, TContextShaderKindEx AKind, std::string_view ASourceCode,
                          TShaderLanguage ALanguage);
    // The first shader with that Id (or of that kind), or nullptr.
    TShaderDef* GetShader(std::string_view AId) const;
    TShaderDef* GetShader(TContextShaderKindEx AKind) const;
    // Free every shader with that Id (of that kind); ClearShaders frees all.
    void RemoveShader(std::string_view AId);
    void RemoveShaders(TContextShaderKindEx AKind);
    void ClearShaders();

    // A new reference to ABehaviour under ADisplayName; nullptr (and nothing
    // added) for an empty name or no behaviour.
    TBehaviourRefDef* AddMaterialBehaviourRef(const std::string& ADisplayName, TBehaviourDef* ABehaviour);
    // The last reference with that Id, that behaviour or that display name, or nullptr.
    TBehaviourRefDef* GetMaterialBehaviourRef(std::string_view AUniqueID) const;
    TBehaviourRefDef* GetMaterialBehaviourRef(const TBehaviourDef* ABehaviour) const;
    TBehaviourRefDef* GetMaterialBehaviourRefByDisplayName(std::string_view ADisplayName) const;
    void RemoveMaterialBehaviourRef(std::string_view AId);
    void RemoveMaterialBehaviourRef(const TBehaviourDef* ABehaviour);
    void ClearMaterialBehaviourRefs();

    // A new, empty extension (also when one of that Id exists).
    TExtensionDef* AddExtension(const std::string& AId);
    // The last extension with that Id, or nullptr.
    TExtensionDef* GetExtension(std::string_view AId) const;
    // Frees every extension with that Id.
    void RemoveExtension(std::string_view AId);
    void ClearExtensions();

    // Sub-materials, only of a material of kind mkLayered: otherwise "cannot
    // add submaterial to none layered material - ..." and "cannot get
    // submaterial of none layered material - ...".
    virtual void AddLayeredMaterial(TMaterialDef* AMaterial);
    // The first sub-material with that Id, or nullptr.
    virtual TMaterialDef* GetLayeredMaterial(std::string_view AId) const;
    // nullptr outside the list.
    virtual TMaterialDef* GetLayeredMaterialByIndex(int AIdx) const;
    // Frees the sub-materials the material owns and drops the list.
    virtual void ClearLayeredMaterials();

    // The base size plus each existing list's instance size and its items' sizes.
    int64_t GetSize() const override;
    std::unique_ptr<TJSONObject> ToJSON() const override;
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMaterialDef); }

private:
    template <typename T>
    static const T* OptionalList(const std::optional<T>& AList) { return AList ? &*AList : nullptr; }
    void RegisterWithModel();
    void ReadLayeredMaterials(TModelDef* AModel, const TJSONArray& AArray);

    TModelDef* FModel;
    bool FRegistered = false;
    TMaterialDef* FParentMaterial = nullptr;
    std::optional<std::vector<TOwned<TTextureDef>>> FTextures;
    std::optional<std::vector<TOwned<TShaderDef>>> FShaders;
    std::optional<std::vector<TOwned<TBehaviourRefDef>>> FBehaviourRefs;
    std::unique_ptr<TExtensionDefList> FExtensions;
    std::optional<std::vector<TMaterialDef*>> FMaterials;
};

} // namespace korvane
