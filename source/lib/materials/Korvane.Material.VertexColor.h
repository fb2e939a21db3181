#pragma once
// The vertex-colour material: lit, coloured by the mesh's vertex colours and
// never textured. Its builders get the vertex-colour and lighting defines back
// after every build, and lose the texturing ones, so that switching texturing
// on shows in one build only.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvaneVertexColorMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvaneVertexColorMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

protected:
    void AfterConstruction() override;
    void DoBuildVertexShader() override;
    void DoBuildFragmentShader() override;
};

class TKorvaneVertexColorMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvaneVertexColorMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

} // namespace korvane
