#include "Korvane.Material.VertexColor.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneVertexColorMaterial, "Korvane.Material.VertexColor")
KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(TKorvaneVertexColorMaterialSource, "Korvane.Material.VertexColor")

void TKorvaneVertexColorMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexturing(false);
    SetUseTexture0(false);
    SetUseVertexColor(true);
}

namespace {

// The defines shape the next build, not the one just finished.
void ForceVertexColor(TKorvaneNodeBuilder* ABuilder)
{
    if (!ABuilder) return;
    ABuilder->AddDefine("USE_VERTEXCOLOR");
    ABuilder->AddDefine("LIGHTING");
    ABuilder->RemoveDefine("USE_TEXTURE");
    ABuilder->RemoveDefine("USE_TEXTURE0");
}

} // namespace

void TKorvaneVertexColorMaterial::DoBuildVertexShader()
{
    TKorvaneDefaultMaterial::DoBuildVertexShader();
    ForceVertexColor(FVSNode.get());
}

void TKorvaneVertexColorMaterial::DoBuildFragmentShader()
{
    TKorvaneDefaultMaterial::DoBuildFragmentShader();
    ForceVertexColor(FFSNode.get());
}

TMaterial* TKorvaneVertexColorMaterialSource::CreateMaterial()
{
    return TKorvaneDefaultMaterial::Create<TKorvaneVertexColorMaterial>(this);
}

} // namespace korvane

namespace korvane::units {

void MaterialVertexColorInitialize() { RegisterClass<TKorvaneVertexColorMaterialSource>(); }
void MaterialVertexColorFinalize() { UnRegisterClass(TKorvaneVertexColorMaterialSource::StaticClass()); }

} // namespace korvane::units
