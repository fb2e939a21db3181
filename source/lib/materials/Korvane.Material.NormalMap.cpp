#include "Korvane.Material.NormalMap.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneNormalMapMaterial, "Korvane.Material.NormalMap")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvaneNormalMapMaterialSource, "Korvane.Material.NormalMap")

void AddNormalMapDefines(TKorvaneNodeBuilder* ABuilder)
{
    for (const char* define : {"LIGHTING", "USE_TEXTURE", "USE_TEXTURE0", "DISPLACEMENT", "NORMALMAP", "BUMP"})
        ABuilder->AddDefine(define);
}

float DisplacementComponent(const TVector3D& AVector, int AIndex)
{
    switch (AIndex) {
    case 0: return AVector.X;
    case 1: return AVector.Y;
    case 2: return AVector.Z;
    default: return AVector.W;
    }
}

void SetDisplacementComponent(TVector3D& AVector, int AIndex, float AValue)
{
    switch (AIndex) {
    case 0: AVector.X = AValue; break;
    case 1: AVector.Y = AValue; break;
    case 2: AVector.Z = AValue; break;
    default: AVector.W = AValue; break;
    }
}

void TKorvaneNormalMapMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    SetShadingModel(TKorvaneShadingModel::smBlinnPhong);
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(true);
    SetUseTexture0(true);
}

void TKorvaneNormalMapMaterial::DoCreateVertexShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateVertexShaderBuilder();
    AddNormalMapDefines(FVSNode.get());
}

void TKorvaneNormalMapMaterial::DoCreateFragmentShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateFragmentShaderBuilder();
    AddNormalMapDefines(FFSNode.get());
}

TMaterial* TKorvaneNormalMapMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvaneNormalMapMaterial>(this);
}

float TKorvaneNormalMapMaterialSource::GetDisplacementComponent(int AIndex) const
{
    return DisplacementComponent(Displacement(), AIndex);
}

void TKorvaneNormalMapMaterialSource::SetDisplacementComponent(int AIndex, float AValue)
{
    TVector3D value = Displacement();
    korvane::SetDisplacementComponent(value, AIndex, AValue);
    SetDisplacement(value);
}

} // namespace korvane

namespace korvane::units {

void MaterialNormalMapInitialize() { RegisterClass<TKorvaneNormalMapMaterialSource>(); }
void MaterialNormalMapFinalize() { UnRegisterClass(TKorvaneNormalMapMaterialSource::StaticClass()); }

} // namespace korvane::units
