#pragma once
// The Phong material: diffuse and Phong specular lighting, textured, shininess 50.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvanePhongMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvanePhongMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

protected:
    void AfterConstruction() override;
};

class TKorvanePhongMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvanePhongMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

} // namespace korvane
