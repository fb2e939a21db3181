// The default material source to and from material definitions.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <string>
#include <string_view>

#include "Korvane.AssetsManager.h"
#include "Korvane.Control.h"
#include "Korvane.Material.Default.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Extension values

TExtensionDef& TakeMaterialExtension(TMaterialDef& ADef, const char* AId)
{
    TExtensionDef* extension = ADef.GetExtension(AId);
    return extension ? *extension : *ADef.AddExtension(AId);
}

bool ReadMaterialExtension(const TMaterialDef& ADef, const char* AId, const char* AKey, TValue& AValue)
{
    const TExtensionDef* extension = ADef.GetExtension(AId);
    return extension && extension->Properties().TryGetValue(AKey, AValue);
}

namespace {

using TChannel = TColorChannelDef;
using TSource = TKorvaneDefaultMaterialSource;

// The switches of extension "Maps", in the order they are written.
constexpr TMaterialSwitchDef MapSwitches[] = {
    {"UseNormalMapping", &TSource::UseNormalMapping, &TSource::SetUseNormalMapping},
    {"UseSpecularMapping", &TSource::UseSpecularMapping, &TSource::SetUseSpecularMapping},
    {"UseEmissiveTexture", &TSource::UseEmissiveTexture, &TSource::SetUseEmissiveTexture},
    {"UseDepthMap", &TSource::UseDepthMap, &TSource::SetUseDepthMap},
    {"UseDisplacementMapping", &TSource::UseDisplacementMapping, &TSource::SetUseDisplacementMapping},
    {"UsePBRAlbedoTexture", &TSource::UsePBRAlbedoTexture, &TSource::SetUsePBRAlbedoTexture},
    {"UsePBRMetallicTexture", &TSource::UsePBRMetallicTexture, &TSource::SetUsePBRMetallicTexture},
    {"UsePBRRoughnessTexture", &TSource::UsePBRRoughnessTexture, &TSource::SetUsePBRRoughnessTexture},
    {"UsePBRAOTexture", &TSource::UsePBRAOTexture, &TSource::SetUsePBRAOTexture},
    {"UsePBREmissiveTexture", &TSource::UsePBREmissiveTexture, &TSource::SetUsePBREmissiveTexture},
    {"UsePBRSpecularTexture", &TSource::UsePBRSpecularTexture, &TSource::SetUsePBRSpecularTexture},
};
// Where the PBR switches begin among them: they run to the end.
constexpr size_t FirstPBRSwitch = 5;
static_assert(std::string_view(MapSwitches[FirstPBRSwitch].Key) == "UsePBRAlbedoTexture");

// The switches a definition's textures turn on: all off before the textures are read.
constexpr void (TSource::*TextureSwitches[])(bool) = {
    &TSource::SetUseDisplacementMapping, &TSource::SetUseNormalMapping,      &TSource::SetUseSpecularMapping,
    &TSource::SetUseEmissiveTexture,     &TSource::SetUseDepthMap,           &TSource::SetUseParallaxOcclusion,
    &TSource::SetUsePBRAlbedoTexture,    &TSource::SetUsePBRMetallicTexture, &TSource::SetUsePBRRoughnessTexture,
    &TSource::SetUsePBRAOTexture,        &TSource::SetUsePBREmissiveTexture, &TSource::SetUsePBRSpecularTexture,
};

// A name the shaders can declare a sampler under ("_" and the name).
bool IsShaderIdentifier(const std::string& AName)
{
    if (AName.empty() || AName.size() > 64 || std::isdigit(static_cast<unsigned char>(AName[0]))) return false;
    return std::all_of(AName.begin(), AName.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

bool IsChannelName(const std::string& AName)
{
    return std::find_if(KorvaneTextureChannelNames.begin(), KorvaneTextureChannelNames.end(),
                        [&](const char* n) { return AName == n; }) != KorvaneTextureChannelNames.end();
}

// The pool entry of a texture of no named channel. A stored source gave such
// an entry its own name as the texture's Id and the asset's name: it comes
// back under it. Other
// textures get "Texture<n>", n the number of textures and counting up past
// names taken.
std::string UserTextureName(const TTextureDef& ATexture, int ATextureCount, const std::set<std::string>& ATaken)
{
    const TKorvaneTextureAsset* asset = ATexture.AssetRef();
    for (const std::string& name : {asset ? asset->OriginalFilename() : std::string(), ATexture.Id()})
        if (IsShaderIdentifier(name) && !IsChannelName(name) && !ATaken.contains(name)) return name;
    for (int n = ATextureCount;; ++n)
        if (std::string name = Format("Texture%d", n); !ATaken.contains(name)) return name;
}

float ShininessFrom(float ASpecPow)
{
    if (ASpecPow < 1.0f) return ASpecPow;
    return float(std::clamp(std::ceil(double(ASpecPow)), 1.0, 100.0));
}

std::string JoinLines(const std::vector<std::string>* ALines)
{
    std::string text;
    if (!ALines) return text;
    for (const std::string& line : *ALines) text += line + "\r\n";
    return text;
}

void StoreShader(TMaterialDef& ADef, const std::vector<std::string>* ALines, TContextShaderKindEx AKind,
                 const char* AName)
{
    const std::string text = JoinLines(ALines);
    if (text.find_first_not_of("\r\n") == std::string::npos) return;
    if (TShaderDef* shader = ADef.GetShader(AKind)) shader->SourceCode = *ALines;
    else ADef.AddShader(AName, AKind, text, TShaderLanguage::GLSL);
}

} // namespace

std::span<const TMaterialSwitchDef> MaterialPBRSwitches() { return std::span(MapSwitches).subspan(FirstPBRSwitch); }

// ---------------------------------------------------------------------------
// Loading

TKorvaneDefaultMaterialSource* TKorvaneDefaultMaterialSource::CreateFromDefinition(TComponent* AOwner,
                                                                                     TCustomDef* ADef)
{
    if (!dynamic_cast<TMaterialDef*>(ADef)) return nullptr;
    TOwned<TKorvaneDefaultMaterialSource> source(Create(nullptr));
    source->LoadFromDefinition(ADef);
    // Owned by AOwner only once it is whole: a failing load leaves nothing behind.
    if (AOwner) AOwner->InsertComponent(source.get());
    return source.release();
}

void TKorvaneDefaultMaterialSource::LoadFromDefinition(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    SetTagObject(def);

    SetShadingModel(def->ShadingModel);
    SetUseTexturing(def->UseTexturing);
    SetUseTexture0(def->UseTexture0);
    SetUseLighting(def->UseLighting);
    SetUseVertexColor(def->UseVertexColor);
    SetUseSpecular(def->UseSpecular);
    SetUseColorClipping(def->UseClipping);
    SetClippingColorF(def->Clipping);
    SetUseAlphaCutoff(def->UseAlphaCutoff);
    SetAlphaCutoff(def->AlphaCutoff);
    SetParallaxLevels(def->ParallaxLevels);
    SetNormalIntensity(def->NormalIntensity);
    SetTonemapping(def->Tonemapping);
    SetTonemappingExposure(def->TonemappingExposure);
    SetDiffuseF(def->Diffuse);
    SetAmbientF(def->Ambient);
    SetEmissiveF(def->Emissive);
    SetSpecularF(def->Specular);
    SetShininess(ShininessFrom(def->SpecPow));
    SetBrightness(def->Brightness);
    SetReflectionPower(def->ReflectionPower);
    SetReflections(def->UseReflection);
    SetRefractionPower(def->RefractionPower);
    SetRefractions(def->UseRefraction);
    SetMetallicBias(def->Metallic);
    SetRoughnessBias(def->Roughness);
    SetAOBias(def->AO);

    if (const auto* shaders = def->Shaders())
        for (const auto& shader : *shaders) {
            if (shader->Kind == TContextShaderKindEx::VertexShader) SetVertexShader(shader->SourceCode);
            else if (shader->Kind == TContextShaderKindEx::PixelShader) SetSurfaceShader(shader->SourceCode);
        }

    if (const auto* textures = def->Textures(); textures && !textures->empty()) {
        SetUseTexturing(true);
        for (auto setter : TextureSwitches) (this->*setter)(false);
        const bool pbr = def->ShadingModel == TKorvaneShadingModel::smPBR;
        const int count = static_cast<int>(textures->size());
        std::set<std::string> taken;
        for (const auto& texture : *textures) {
            const auto channel = texture->Channel();
            const size_t index = static_cast<size_t>(channel);
            const std::string name = index < size_t(TChannel::UserSpecific) ? KorvaneTextureChannelNames[index]
                                                                              : UserTextureName(*texture, count, taken);
            taken.insert(name);
            const TSamplerDef& sampler = texture->Sampler();
            TKorvaneBitmapPoolEntry* entry =
                AddBitmap(name, sampler.InternalFormat, sampler.Format, sampler.DataType, texture->IsDynamic,
                          texture->IgnoreInArray, true, texture->Destination, sampler.TextureKind);
            switch (channel) {
            case TChannel::Diffuse:
                if (pbr) SetUsePBRAlbedoTexture(true);
                break;
            case TChannel::Emissive:
                if (pbr) SetUsePBREmissiveTexture(true);
                else SetUseEmissiveTexture(true);
                break;
            case TChannel::Specular:
                if (pbr) {
                    SetUsePBRSpecularTexture(true);
                } else {
                    SetUseSpecular(true);
                    SetUseSpecularMapping(true);
                }
                break;
            case TChannel::Normal: SetUseNormalMapping(true); break;
            case TChannel::Environment: SetEnvironment(true); break;
            case TChannel::Displacement: SetUseDisplacementMapping(true); break;
            case TChannel::Metalness: SetUsePBRMetallicTexture(true); break;
            case TChannel::Roughness: SetUsePBRRoughnessTexture(true); break;
            case TChannel::AO: SetUsePBRAOTexture(true); break;
            case TChannel::POM: SetUseParallaxOcclusion(true); break;
            case TChannel::Depth: SetUseDepthMap(true); break;
            default: break;
            }
            entry->LoadFromDefinition(texture.get());
        }
        UpdateDefaultBitmaps();
    }

    if (const auto* refs = def->BehaviourRefs())
        if (TComponent* model = FindModel())
            for (const auto& ref : *refs) {
                if (!ref->Reference())
                    Log::d("failed to find material behaviour reference \"%s\" (\"%s\") on loading material from "
                           "definition",
                           ref->Id(), ref->DisplayName);
                TComponent* found = FindComponentDeepSearchByFilter(model, [&](TComponent* AComponent) {
                    auto* behaviour = dynamic_cast<TKorvaneMaterialBehaviour*>(AComponent);
                    return behaviour && behaviour->Def() && behaviour->Def()->Id() == ref->Id();
                });
                if (found) AttachMaterialBehaviour(static_cast<TKorvaneMaterialBehaviour*>(found));
            }

    TValue value;
    if (ReadMaterialExtension(*def, "Shading", "ShadingIntensity", value)) SetShadingIntensity(float(value.AsExtended()));
    if (ReadMaterialExtension(*def, "Shading", "Shadows", value)) SetShadows(value.AsBoolean());
    if (ReadMaterialExtension(*def, "Shading", "ShadowMethod", value)) {
        const int64_t method = value.AsOrdinal();
        if (method < 0 || method > int64_t(TKorvaneShadowMethod::VarianceShadowMapping))
            throw EArgumentException(Format("invalid shadow method %d in material definition", method));
        SetShadowMethod(static_cast<TKorvaneShadowMethod>(method));
    }
    for (const TMaterialSwitchDef& s : MapSwitches)
        if (ReadMaterialExtension(*def, "Maps", s.Key, value)) (this->*s.Set)(value.AsBoolean());
    if (ReadMaterialExtension(*def, "Displacement", "UseDisplacementMapping", value))
        SetUseDisplacementMapping(value.AsBoolean());
    if (ReadMaterialExtension(*def, "Displacement", "Displacement", value)) {
        TVector3D displacement;
        if (!value.TryAsType(displacement))
            throw EArgumentException("material definition: \"Displacement\" is not a vector");
        SetDisplacement(displacement);
    }
}

// ---------------------------------------------------------------------------
// Storing

void TKorvaneDefaultMaterialSource::StoreToDefinition(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    def->TypeName = ClassType()->QualifiedClassName();

    def->ShadingModel = ShadingModel();
    def->UseTexturing = UseTexturing();
    def->UseTexture0 = UseTexture0();
    def->UseLighting = UseLighting();
    def->UseVertexColor = UseVertexColor();
    def->UseSpecular = UseSpecular();
    def->UseClipping = UseColorClipping();
    def->Clipping = ClippingColorF();
    def->UseAlphaCutoff = UseAlphaCutoff();
    def->AlphaCutoff = AlphaCutoff();
    def->ParallaxLevels = ParallaxLevels();
    def->NormalIntensity = NormalIntensity();
    def->Tonemapping = Tonemapping();
    def->TonemappingExposure = TonemappingExposure();
    def->Diffuse = DiffuseF();
    def->Ambient = AmbientF();
    def->Emissive = EmissiveF();
    def->Specular = SpecularF();
    def->SpecPow = Shininess();
    def->Brightness = Brightness();
    def->ReflectionPower = ReflectionPower();
    def->UseReflection = Reflections();
    def->RefractionPower = RefractionPower();
    def->UseRefraction = Refractions();
    def->Metallic = MetallicBias();
    def->Roughness = RoughnessBias();
    def->AO = AOBias();

    StoreShader(*def, VertexShader(), TContextShaderKindEx::VertexShader, "VertexShader");
    StoreShader(*def, SurfaceShader(), TContextShaderKindEx::PixelShader, "PixelShader");

    def->ClearTextures();
    for (int i = 0; FBitmaps && i < FBitmaps->Count(); ++i) {
        const TKorvaneBitmapPoolEntry* entry = FBitmaps->Items(i);
        const std::string name = entry->DisplayName();
        const auto found = std::find_if(KorvaneTextureChannelNames.begin(), KorvaneTextureChannelNames.end(),
                                        [&](const char* n) { return name == n; });
        // A name of no channel (the table's last name is UserSpecific's own) stores as UserSpecific.
        const auto channel = found == KorvaneTextureChannelNames.end()
                                 ? TChannel::UserSpecific
                                 : static_cast<TChannel>(found - KorvaneTextureChannelNames.begin());
        TTextureDef* texture;
        if (entry->Bitmap()->IsEmpty()) {
            // No picture to keep: an asset holding an empty one could not be read back.
            texture = def->AddTexture(channel, nullptr, false);
        } else {
            // The asset keeps and later frees its picture: it gets a copy, never the
            // pool's own bitmap, which the source goes on using.
            TOwned<TBitmap> picture(TKorvaneTextureBitmap::Create());
            picture->Assign(entry->Bitmap());
            auto asset = MakeOwned<TKorvaneTextureAsset>(nullptr);
            asset->ImportFromCachedBitmap(name, std::move(picture));
            asset->SetIsStandalone(true);
            texture = def->AddTexture(channel, std::move(asset));
        }
        // The name also without a picture (a render pass's entry has none).
        texture->SetId(name);
        entry->StoreToDefinition(texture);
    }

    if (const TKorvaneMaterialBehaviourCollection* behaviours = Behaviours())
        for (int i = 0; i < behaviours->Count(); ++i)
            if (const TKorvaneMaterialBehaviourItem* item = behaviours->Items(i); item->Behaviour())
                def->AddMaterialBehaviourRef(item->DisplayName(), item->Behaviour()->Def());

    TProperties& shading = TakeMaterialExtension(*def, "Shading").Properties();
    shading.AddOrSetValue("ShadingIntensity", TValue::From(ShadingIntensity()));
    shading.AddOrSetValue("Shadows", TValue::From(Shadows()));
    shading.AddOrSetValue("ShadowMethod", TValue::From(ShadowMethod()));
    TProperties& maps = TakeMaterialExtension(*def, "Maps").Properties();
    for (const TMaterialSwitchDef& s : MapSwitches) maps.AddOrSetValue(s.Key, TValue::From((this->*s.Get)()));
    TProperties& displacement = TakeMaterialExtension(*def, "Displacement").Properties();
    displacement.AddOrSetValue("UseDisplacementMapping", TValue::From(UseDisplacementMapping()));
    displacement.AddOrSetValue("Displacement", TValue::From(Displacement()));
    const TKorvaneTextureBitmap* map = FindBitmapByName("DisplacementMapTexture");
    displacement.AddOrSetValue("DisplacementMap", TValue::From(map && !map->IsEmpty()));
}

} // namespace korvane
