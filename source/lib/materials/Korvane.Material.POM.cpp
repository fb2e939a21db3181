#include "Korvane.Material.POM.h"

#include "Korvane.Material.NormalMap.h"
#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvanePOMMaterial, "Korvane.Material.POM")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvanePOMMaterialSource, "Korvane.Material.POM")

namespace {

void AddPOMDefines(TKorvaneNodeBuilder* ABuilder)
{
    AddNormalMapDefines(ABuilder);
    ABuilder->AddDefine("POM");
    ABuilder->AddDefine("POM_DISCARD");
}

} // namespace

void TKorvanePOMMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    SetNormalIntensity(0.1f);
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(true);
    SetUseTexture0(true);
}

void TKorvanePOMMaterial::DoCreateVertexShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateVertexShaderBuilder();
    AddPOMDefines(FVSNode.get());
}

void TKorvanePOMMaterial::DoCreateFragmentShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateFragmentShaderBuilder();
    AddPOMDefines(FFSNode.get());
}

bool TKorvanePOMMaterial::ParallaxDiscardEdges() const { return DefinedFragment("POM_DISCARD"); }

void TKorvanePOMMaterial::SetParallaxDiscardEdges(bool AValue)
{
    SetBoth("POM_DISCARD", AValue);
    DoChange();
}

TMaterial* TKorvanePOMMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvanePOMMaterial>(this);
}

void TKorvanePOMMaterialSource::DoCreateDefaultBitmaps()
{
    if (!DefaultMaterial()) return;
    TKorvaneDefaultMaterialSource::DoCreateDefaultBitmaps();
    AddBitmap("POMTexture", TPixelFormatEx::RGBA8, TPixelFormatEx::RGBA, TKorvaneTextureDataType::dtUnsignedByte,
              false, true, true, TContextShaderKind::PixelShader, TKorvaneTextureKind::Texture2D);
}

float TKorvanePOMMaterialSource::GetDisplacementComponent(int AIndex) const
{
    return DisplacementComponent(Displacement(), AIndex);
}

void TKorvanePOMMaterialSource::SetDisplacementComponent(int AIndex, float AValue)
{
    TVector3D value = Displacement();
    korvane::SetDisplacementComponent(value, AIndex, AValue);
    SetDisplacement(value);
}

TKorvaneTextureBitmap* TKorvanePOMMaterialSource::ParallaxOcclusionMap() const
{
    return NamedBitmap("POMTexture", "TKorvanePOMMaterialSource.ParallaxOcclusionMap not activated in material");
}

void TKorvanePOMMaterialSource::SetParallaxOcclusionMap(const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = ParallaxOcclusionMap()) bitmap->Assign(AValue);
}

void TKorvanePOMMaterialSource::LoadFromDefinition(TCustomDef* ADef)
{
    TKorvaneDefaultMaterialSource::LoadFromDefinition(ADef);
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    TValue value;
    if (ReadMaterialExtension(*def, "ParallaxOcclusionMapping", "ParallaxLevels", value))
        SetParallaxLevels(value.AsInteger());
    if (ReadMaterialExtension(*def, "ParallaxOcclusionMapping", "UseParallaxOcclusion", value))
        SetUseParallaxOcclusion(value.AsBoolean());
}

void TKorvanePOMMaterialSource::StoreToDefinition(TCustomDef* ADef)
{
    TKorvaneDefaultMaterialSource::StoreToDefinition(ADef);
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    if (!def) return;
    TProperties& pom = TakeMaterialExtension(*def, "ParallaxOcclusionMapping").Properties();
    pom.AddOrSetValue("UseParallaxOcclusion", TValue::From(UseParallaxOcclusion()));
    pom.AddOrSetValue("ParallaxLevels", TValue::From(int32_t(ParallaxLevels())));
    if (const TKorvaneTextureBitmap* map = FindBitmapByName("POMTexture"))
        pom.AddOrSetValue("ParallaxOcclusionMap", TValue::From(!map->IsEmpty()));
}

} // namespace korvane

namespace korvane::units {

void MaterialPOMInitialize() { RegisterClass<TKorvanePOMMaterialSource>(); }
void MaterialPOMFinalize() { UnRegisterClass(TKorvanePOMMaterialSource::StaticClass()); }

} // namespace korvane::units
