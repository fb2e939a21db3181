#include "Korvane.Material.Phong.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvanePhongMaterial, "Korvane.Material.Phong")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvanePhongMaterialSource, "Korvane.Material.Phong")

void TKorvanePhongMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    // Stored straight in the block: the switches below rebuild the sources anyway.
    FShaderData.ShadingModel = static_cast<int32_t>(TKorvaneShadingModel::smPhong);
    SetShininess(50);
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(true);
    SetUseTexture0(true);
}

TMaterial* TKorvanePhongMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvanePhongMaterial>(this);
}

} // namespace korvane

namespace korvane::units {

void MaterialPhongInitialize() { RegisterClass<TKorvanePhongMaterialSource>(); }
void MaterialPhongFinalize() { UnRegisterClass(TKorvanePhongMaterialSource::StaticClass()); }

} // namespace korvane::units
