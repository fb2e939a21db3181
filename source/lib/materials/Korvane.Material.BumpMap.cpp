#include "Korvane.Material.BumpMap.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneBumpMapMaterial, "Korvane.Material.BumpMap")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvaneBumpMapMaterialSource, "Korvane.Material.BumpMap")

void TKorvaneBumpMapMaterial::DoCreateVertexShaderBuilder()
{
    TKorvaneNormalMapMaterial::DoCreateVertexShaderBuilder();
    FVSNode->AddDefine("SPECULARMAP");
}

void TKorvaneBumpMapMaterial::DoCreateFragmentShaderBuilder()
{
    TKorvaneNormalMapMaterial::DoCreateFragmentShaderBuilder();
    FFSNode->AddDefine("SPECULARMAP");
}

TMaterial* TKorvaneBumpMapMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvaneBumpMapMaterial>(this);
}

void TKorvaneBumpMapMaterialSource::DoCreateDefaultBitmaps()
{
    if (!DefaultMaterial()) return;
    AddBitmap("SpecularMapTexture", TPixelFormatEx::RGBA8, TPixelFormatEx::BGRA,
              TKorvaneTextureDataType::dtUnsignedByte, false, true, true, TContextShaderKind::PixelShader,
              TKorvaneTextureKind::Texture2D);
    TKorvaneNormalMapMaterialSource::DoCreateDefaultBitmaps();
}

TKorvaneTextureBitmap* TKorvaneBumpMapMaterialSource::SpecularMap() const
{
    return NamedBitmap("SpecularMapTexture", "TKorvaneBumpMapMaterialSource.GetSpecularMap not activated in material");
}

void TKorvaneBumpMapMaterialSource::SetSpecularMap(const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = SpecularMap()) bitmap->Assign(AValue);
}

} // namespace korvane

namespace korvane::units {

void MaterialBumpMapInitialize() { RegisterClass<TKorvaneBumpMapMaterialSource>(); }
void MaterialBumpMapFinalize() { UnRegisterClass(TKorvaneBumpMapMaterialSource::StaticClass()); }

} // namespace korvane::units
