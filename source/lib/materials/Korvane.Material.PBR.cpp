#include "Korvane.Material.PBR.h"

#include "Korvane.Material.NormalMap.h"
#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvanePBRMaterial, "Korvane.Material.PBR")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvanePBRMaterialSource, "Korvane.Material.PBR")

void TKorvanePBRMaterial::AfterConstruction()
{
    TKorvanePOMMaterial::AfterConstruction();
    // Stored straight in the block: the switches below rebuild the sources anyway.
    FShaderData.Material._Ambient = TAlphaColorF(0.03f, 0.03f, 0.03f, 1.0f);
    TVector3D& displacement = FShaderData.Material._Displacement;
    displacement = TVector3D(displacement.X * 0.5f, displacement.Y * 0.5f, displacement.Z * 0.5f,
                             displacement.W * 0.5f);
    FShaderData.ShadingModel = static_cast<int32_t>(TKorvaneShadingModel::smPBR);
    SetNormalIntensity(0.1f);
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(true);
    SetUseTexture0(true);
    SetUsePBRAlbedoTexture(true);
    SetUsePBRMetallicTexture(true);
    SetUsePBRRoughnessTexture(true);
    SetUsePBRAOTexture(true);
}

void TKorvanePBRMaterial::DoCreateVertexShaderBuilder()
{
    TKorvanePOMMaterial::DoCreateVertexShaderBuilder();
    AddNormalMapDefines(FVSNode.get());
    FVSNode->AddDefine("PBR");
}

void TKorvanePBRMaterial::DoCreateFragmentShaderBuilder()
{
    TKorvanePOMMaterial::DoCreateFragmentShaderBuilder();
    AddNormalMapDefines(FFSNode.get());
    for (const char* define : {"PBR", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS",
                               "PBR_TEX_AO"})
        FFSNode->AddDefine(define);
}

TMaterial* TKorvanePBRMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvanePBRMaterial>(this);
}

void TKorvanePBRMaterialSource::DoCreateDefaultBitmaps()
{
    if (!DefaultMaterial()) return;
    TKorvanePOMMaterialSource::DoCreateDefaultBitmaps();
    for (const char* name : {"MetalnessTexture", "RoughnessTexture", "AmbientOcclusionTexture", "EmissiveTexture",
                             "SpecularMapTexture"})
        AddBitmap(name, TPixelFormatEx::RGBA8, TPixelFormatEx::BGRA, TKorvaneTextureDataType::dtUnsignedByte, false,
                  true, false, TContextShaderKind::PixelShader, TKorvaneTextureKind::Texture2D);
}

#define KORVANE_PBR_MAP(Getter, Entry, Message)                                                                       \
    TKorvaneTextureBitmap* TKorvanePBRMaterialSource::Getter() const { return NamedBitmap(Entry, Message); }          \
    void TKorvanePBRMaterialSource::Set##Getter(const TBitmap* AValue)                                               \
    {                                                                                                                \
        if (TKorvaneTextureBitmap* bitmap = Getter()) bitmap->Assign(AValue);                                        \
    }
KORVANE_PBR_MAP(MetalnessTexture, "MetalnessTexture", "TKorvanePBRMaterialSource.MetalnessTexture not activated in material")
KORVANE_PBR_MAP(RoughnessTexture, "RoughnessTexture", "TKorvanePBRMaterialSource.RoughnessTexture not activated in material")
KORVANE_PBR_MAP(AmbientOcclusionTexture, "AmbientOcclusionTexture",
                "TKorvanePBRMaterialSource.AmbientOcclusionTexture not activated in material")
KORVANE_PBR_MAP(EmissiveTexture, "EmissiveTexture", "TKorvanePBRMaterialSource.EmissiveTexture not activated in material")
KORVANE_PBR_MAP(SpecularMap, "SpecularMapTexture", "TKorvanePBRMaterialSource.GetSpecularMap not activated in material")
#undef KORVANE_PBR_MAP

namespace {

// Presence keys of extension "PBR" and the pool entries they tell about.
constexpr std::pair<const char*, const char*> PBRMaps[] = {
    {"NormalMap", "NormalMapTexture"},         {"SpecularMap", "SpecularMapTexture"},
    {"MetalnessTexture", "MetalnessTexture"},  {"RoughnessTexture", "RoughnessTexture"},
    {"AmbientOcclusionTexture", "AmbientOcclusionTexture"}, {"EmissiveTexture", "EmissiveTexture"},
};

} // namespace

void TKorvanePBRMaterialSource::LoadFromDefinition(TCustomDef* ADef)
{
    TKorvanePOMMaterialSource::LoadFromDefinition(ADef);
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    TValue value;
    for (const TMaterialSwitchDef& s : MaterialPBRSwitches())
        if (ReadMaterialExtension(*def, "PBR", s.Key, value)) (this->*s.Set)(value.AsBoolean());
}

void TKorvanePBRMaterialSource::StoreToDefinition(TCustomDef* ADef)
{
    TKorvanePOMMaterialSource::StoreToDefinition(ADef);
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    TProperties& pbr = TakeMaterialExtension(*def, "PBR").Properties();
    for (const TMaterialSwitchDef& s : MaterialPBRSwitches()) pbr.AddOrSetValue(s.Key, TValue::From((this->*s.Get)()));
    for (const auto& [key, entry] : PBRMaps)
        if (const TKorvaneTextureBitmap* map = FindBitmapByName(entry))
            pbr.AddOrSetValue(key, TValue::From(!map->IsEmpty()));
}

} // namespace korvane

namespace korvane::units {

void MaterialPBRInitialize() { RegisterClass<TKorvanePBRMaterialSource>(); }
void MaterialPBRFinalize() { UnRegisterClass(TKorvanePBRMaterialSource::StaticClass()); }

} // namespace korvane::units
