#pragma once
// The Blinn-Phong material: diffuse and Blinn-Phong specular lighting, textured, shininess 50.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvaneBlinnMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvaneBlinnMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

protected:
    void AfterConstruction() override;
};

class TKorvaneBlinnMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvaneBlinnMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

} // namespace korvane
