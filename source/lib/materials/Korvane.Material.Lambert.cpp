#include "Korvane.Material.Lambert.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneLambertMaterial, "Korvane.Material.Lambert")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvaneLambertMaterialSource, "Korvane.Material.Lambert")

void TKorvaneLambertMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    // Stored straight in the block: the switches below rebuild the sources anyway.
    FShaderData.ShadingModel = static_cast<int32_t>(TKorvaneShadingModel::smLambert);
    SetUseLighting(true);
    SetUseSpecular(false);
    SetUseTexturing(true);
    SetUseTexture0(true);
}

TMaterial* TKorvaneLambertMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvaneLambertMaterial>(this);
}

} // namespace korvane

namespace korvane::units {

void MaterialLambertInitialize() { RegisterClass<TKorvaneLambertMaterialSource>(); }
void MaterialLambertFinalize() { UnRegisterClass(TKorvaneLambertMaterialSource::StaticClass()); }

} // namespace korvane::units
