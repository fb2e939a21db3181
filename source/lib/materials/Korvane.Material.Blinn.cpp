#include "Korvane.Material.Blinn.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneBlinnMaterial, "Korvane.Material.Blinn")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvaneBlinnMaterialSource, "Korvane.Material.Blinn")

void TKorvaneBlinnMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    // Stored straight in the block: the switches below rebuild the sources anyway.
    FShaderData.ShadingModel = static_cast<int32_t>(TKorvaneShadingModel::smBlinnPhong);
    SetShininess(50);
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(true);
    SetUseTexture0(true);
}

TMaterial* TKorvaneBlinnMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvaneBlinnMaterial>(this);
}

} // namespace korvane

namespace korvane::units {

void MaterialBlinnInitialize() { RegisterClass<TKorvaneBlinnMaterialSource>(); }
void MaterialBlinnFinalize() { UnRegisterClass(TKorvaneBlinnMaterialSource::StaticClass()); }

} // namespace korvane::units
